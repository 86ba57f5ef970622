// The line options that every mbusctl command on a port takes (--port,
// --baud, --parity, --echo, --retries, --trace), read and explained from one
// table, and the messages about a port that does not open.

#pragma once

#include <initializer_list>
#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::cli {

class ControlClient;

struct LineOptions {
    int port = 1;
    int baud = 2400;
    int parity = 1;  // 0 none, 1 even, 2 odd
    int echo = 0;    // echo of the level converter: 0 none, 1 full, 2 partial
    // 1: an answer ends with the last byte of a whole frame rather than after
    // the byte timeout (the line's COMEndAtFrame).
    int endAtFrame = 0;
    // Repetitions of a request without a valid answer after its first
    // transmission.
    int retries = 2;
    bool retriesGiven = false;  // --retries was on the command line
    std::string trace;  // file the line traffic is appended to, empty for none
};

// The usage lines of the line options, the option column `width` wide.
std::string LineOptionsUsage(int width);

// Reads a line option at args[i], moving i past its value: 1 when it was
// one, 0 when it was not, -1 after a message about a bad value to `err`
// ("mbusctl COMMAND: ...").
int ParseLineOption(const std::vector<std::string>& args, std::size_t& i, LineOptions& o, std::ostream& err,
                    const char* command);

// The arguments with every "--name=value" of an option that takes a value
// (a line option or one of `more`) split into "--name" and "value".
std::vector<std::string> SplitOptionValues(const std::vector<std::string>& args,
                                           std::initializer_list<const char*> more = {});

// A decimal number lo..hi into *v; false (and *v unchanged) for anything else.
bool ParseNumber(const std::string& s, int lo, int hi, int* v);

// An address of a meter as the commands take it: a primary address 0..250,
// or a secondary address of 8 or 16 hexadecimal digits (F a wildcard).
// False after "mbusctl COMMAND: "X" is no address; ..." to `err`.
bool CheckMeterAddress(const std::string& address, const char* command, std::ostream& err);

// The script lines of a conversation with the meter at `address` (checked
// by CheckMeterAddress). A conversation starts afresh: a meter repeats its
// last answer to a REQ_UD2 whose FCB equals that of the request before (it
// takes the master to have lost it), and a new process, or a new round,
// cannot know which FCB the meter saw last. SND_NKE makes the meter forget
// it and makes the control reset its own FCB for the address, so the first
// REQ_UD2 gets the first telegram of a new readout. A selection does the
// same for a secondary address: the meter starts over, and the control
// resets its FCB state for 253.
struct MeterConversation {
    std::string start;      // the first line, CR LF included: SND_NKE or the selection
    std::string startLine;  // its log line: "3|9||" or "8||"
    int address = 0;        // where the requests go: the primary address or 253
    std::string end;        // the last line, CR LF included: the deselection, or empty
    std::string secondary;  // the 16 digits selected (F a wildcard), or empty for a primary address
};
MeterConversation ConversationWith(const std::string& address);

// True when the line runs at `baud`.
bool SupportedBaud(int baud);
// "1234 baud is not a rate the line supports; use 300, 600, ..."
std::string BaudProblem(int baud);

// Why port `port` did not open, as far as can be told from outside: the
// device and the system's reason (missing, permission denied with the hint
// of the dialout group, in use by another program), else the device and a
// hint at the port map.
std::string PortProblem(int port);

// "port 1 (/dev/ttyUSB0)": the port and the device the port map gives it.
std::string PortAndDevice(int port);

// Puts the line options into the control (port, `baud`, parity, the trace
// file), opens the port and, when it opened, sets the echo handling, which
// every opening resets. Returns the line status: 0 open, else why not.
int OpenLine(const ControlClient& control, const LineOptions& line, int baud);

// OpenLine for a command's start. The retries are the caller's to put.
// False after a message to `err` ("mbusctl COMMAND: port N could not be
// opened: ...").
bool OpenControlLine(const ControlClient& control, const LineOptions& line, int baud, const char* command,
                     std::ostream& err);

// The program's version, the project version.
const char* Version();

}  // namespace mbus::cli
