// The lines that open the port at the start of every read or write script:
// by communication type, address type, baud selection and the settings
// FiFoBuffer and BTOpto. Script lines are returned without their line end;
// JoinScript adds the CR LF every line of a script carries.

#pragma once

#include <string>
#include <vector>

namespace mbus::meridex {

// The selections of the connection combo box.
enum CommunicationType {
    kSerialCable = 0,
    kModemDialUp = 1,
    kIrdaSir = 2,
    kIrdaTransceiver = 3,
};

// The address radio buttons.
enum AddressType {
    kOpticalHead = 0,
    kBroadcast = 1,
    kSecondaryAddress = 2,
    kPrimaryAddress = 3,
    kDeviceList = 4,
};

// The baud combo box: 300, 2400, 9600, 19200, 38400 at indices 0 to 4.
constexpr int kBaudRates[] = {300, 2400, 9600, 19200, 38400};
constexpr int kBaudIndex38400 = 4;
// The baud rate of an index, 0 outside 0..4.
int BaudOfIndex(int index);

struct ConnectionChoice {
    int communicationType = kSerialCable;
    int addressType = kBroadcast;
    int baudIndex = 1;
    int port = 1;  // 1..32 (COM1..COM32)
    bool fifoBuffer = true;
    bool btOpto = false;
    bool phoneConnected = false;
};

// "0||COM<port>,".
std::string PortPrefix(int port);
// A parameter string ending in "HS=0|" in the form that FiFoBuffer asks for:
// with the FIFO off every port line carries ",FF=0" before its final "|".
std::string WithFifo(const std::string& parameters, bool fifoBuffer);
// The parameter string of the M-Bus level converter at a baud index (0..4),
// in its FIFO-on form; empty outside 0..4.
std::string LevelConverterParameters(int baudIndex);

// The connection lines of a read or write script. Communication types 2 and
// 3 always run at 38400 baud (their callers show that in the baud box); a
// baud index outside 0..4 adds no port line where the line depends on it.
std::vector<std::string> ConnectionLines(const ConnectionChoice& choice);

// The lines joined, each followed by CR LF.
std::string JoinScript(const std::vector<std::string>& lines);

}  // namespace mbus::meridex
