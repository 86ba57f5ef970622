// The serial port as the line layer sees it: open by port number, configure,
// write, read what is there, UART error state, modem control and status.
// Three fillings: the termios backend for real adapters and pseudo-terminals,
// the simulated backend attached to an in-process simulated bus, and the TCP
// backend for a serial server on the network.

#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace mbus::serial {

struct SerialConfig {
    int baud = 2400;   // the rate the port is programmed for (already divided for high speed)
    int dataBits = 8;  // 5..8
    int stopBits = 1;  // 1, 2, or -1 for one and a half
    int parity = 1;    // 0 none, 1 even, 2 odd
    int rts = 0;       // 0 low, 1 high, 2 hardware handshake, 3 toggle (high while sending)
    int dtr = 0;       // 0 low, 1 high, 2 handshake
};

// UART faults seen since the last call of TakeErrors.
struct UartErrors {
    bool parity = false;
    bool framing = false;
    bool other = false;  // overrun, break, buffer overflow, I/O error
    bool Any() const { return parity || framing || other; }
};

// Time one character takes on a line with these settings: start bit, data
// bits, parity bit and stop bits (one and a half counted as 1.5).
std::chrono::nanoseconds CharacterTime(const SerialConfig& config);

struct ModemStatus {
    bool cts = false, dsr = false, ri = false, dcd = false;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Applies a configuration; false (with errno-style code in LastError) when refused.
    virtual bool Configure(const SerialConfig& config) = 0;
    // Queues bytes for sending without blocking; returns how many were accepted (-1 on error).
    virtual int Write(const uint8_t* data, int n) = 0;
    // True when every written byte has left the port (the shift register included where known).
    virtual bool OutputEmpty() = 0;
    // The least time `count` characters take on the line at the configured
    // settings, from handing them to the port until the last stop bit has
    // left it: a port cannot send faster than its rate, whatever its output
    // queue says (a pseudo-terminal, a network gateway or a USB adapter
    // empties its queue long before the line has carried the bytes). Zero
    // where bytes take no time (an unpaced simulated line).
    virtual std::chrono::nanoseconds LineTime(int count) const = 0;
    // Bytes that can be read now.
    virtual int BytesWaiting() = 0;
    // Reads up to `max` bytes that are there now, never blocking; -1 on error.
    virtual int Read(uint8_t* data, int max) = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;
    // UART faults since the last call, cleared by the call.
    virtual UartErrors TakeErrors() = 0;
    virtual void SetRTS(bool on) = 0;
    virtual void SetDTR(bool on) = 0;
    virtual void SetBreak(bool on) = 0;
    virtual ModemStatus GetModemStatus() = 0;
    // The platform error number of the last failure (0 when none).
    virtual int LastError() const = 0;
    // True when the device behind the port is gone for good: this port will
    // never carry a byte again and must be closed and opened anew (the
    // device hung up or failed with an I/O error, or its device node was
    // removed or now names another device). Ports that reconnect by
    // themselves, or whose device cannot vanish, are never lost.
    virtual bool Lost() = 0;
    // A readable name of what the port is ("/dev/ttyUSB0", "sim:demo", "tcp:gw:10001").
    virtual std::string Name() const = 0;
};

// Opens port `number` (1..999) through the port map (port_map.h). On
// failure returns null and sets *error to the platform error number.
std::unique_ptr<SerialPort> OpenPort(int number, int* error);

// What the port map says of port `number`, and what its device tells
// without being opened as a terminal.
struct PortFacts {
    enum class Kind { kTerminal, kSimulated, kNetwork };
    std::string device;     // what the port map (or its default) gives
    Kind kind = Kind::kTerminal;
    bool inMap = false;     // the port map has an entry for the port
    std::string mapPath;    // the port-map file
    std::string mapErrors;  // why the port map (or lines of it) could not be read, on one line
    // Only when the device was asked: ENOENT for a simulated bus that this
    // program does not have, -1 for a network device that did not connect;
    // `detail` says why. A terminal device is not opened here: 0.
    int error = 0;
    std::string detail;
};

// Reads the port map for port `number`; with `askDevice`, asks a simulated
// or network device whether it is there (a network device is connected to
// once, which may take its connection timeout).
PortFacts LookUpPort(int number, bool askDevice);

// The device behind port `number` and what can be told from outside about
// why it might not open: "/dev/ttyUSB0: port in use by process 1234",
// "/dev/ttyUSB3: No such file or directory", "tcp:gw:10001: connection
// refused (nothing listens there)", or the device alone.
std::string ExplainPort(int number);

}  // namespace mbus::serial
