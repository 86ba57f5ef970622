// The TCP backend of the serial port: a network serial server (a gateway
// from the LAN to the bus) reached over a TCP connection. Bytes written to
// the connection go out on the bus; bytes from the bus come back on it.
//
// How it behaves as a port:
//   - the gateway owns the serial side: Configure checks and remembers the
//     settings and changes nothing on the wire. The configured baud still
//     counts: OutputEmpty reports the output empty only once the written
//     bytes have had their time on the gateway's line at that rate, so that
//     the line layer's answer timeout starts when the request has left the
//     gateway, not when it has left this host;
//   - there are no UART fault bits and no modem lines: modem status reads all
//     off, and setting RTS, DTR or break records EOPNOTSUPP in LastError and
//     does nothing else;
//   - the connection is made with a time limit (non-blocking connect), with
//     TCP_NODELAY (a request goes out at once, not held back to be merged);
//     writes never raise SIGPIPE;
//   - a connection the gateway closes or resets: the bytes that came before
//     stay readable, TakeErrors reports `other` once (an I/O error: the
//     answer is cut), Read returns -1 once they are gone, and a line goes to
//     the error stream. The next Write connects again (gateways commonly drop
//     idle connections); when that fails, Write returns -1 with the reason in
//     LastError, and the write after tries again.

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"

namespace mbus::serial {

// The time a connection attempt may take.
inline constexpr int kTcpConnectTimeoutMs = 5000;

// Connects to `endpoint`, trying each address its host resolves to, within
// `timeoutMs` in all. Returns the connected, non-blocking socket, or -1 with
// *error set to an errno value (ENXIO when the host name is not found) and
// *reason to a readable text ("connection refused", "host name not found
// (...)", "no answer within 5 s").
int ConnectTcp(const TcpEndpoint& endpoint, int timeoutMs, int* error, std::string* reason);

class TcpPort final : public SerialPort {
public:
    // Takes ownership of `fd`, a socket connected to `endpoint`; `device` is
    // the port-map text ("tcp:HOST:PORT").
    TcpPort(int fd, std::string device, TcpEndpoint endpoint);
    ~TcpPort() override;
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    bool Configure(const SerialConfig& config) override;
    int Write(const uint8_t* data, int n) override;
    bool OutputEmpty() override;
    std::chrono::nanoseconds LineTime(int count) const override;
    int BytesWaiting() override;
    int Read(uint8_t* data, int max) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    UartErrors TakeErrors() override;
    void SetRTS(bool on) override;
    void SetDTR(bool on) override;
    void SetBreak(bool on) override;
    ModemStatus GetModemStatus() override;
    // A lost connection is made again by the next Write: never lost.
    bool Lost() override { return false; }
    int LastError() const override;
    std::string Name() const override { return device_; }

    // The configuration last applied.
    SerialConfig Config() const;
    // True while the connection is up.
    bool Connected() const;

private:
    using Clock = std::chrono::steady_clock;

    // Everything below runs with mutex_ held.
    // Moves what the socket holds into held_; notices a closed connection.
    void Fill();
    // Closes the connection after `err` (0: closed by the gateway) and says so.
    void Lose(int err);

    int fd_;
    const std::string device_;
    const TcpEndpoint endpoint_;
    mutable std::mutex mutex_;
    SerialConfig config_;
    int lastError_ = 0;
    std::deque<uint8_t> held_;     // received bytes not yet read
    bool cut_ = false;             // the connection was lost since the last TakeErrors
    Clock::time_point wireFreeAt_; // when the bytes written so far have left the gateway
};

// Opens the gateway named by `device` ("tcp:HOST:PORT"). On failure returns
// null, sets *error to the errno value and remembers the reason for
// ExplainTcpPort.
std::unique_ptr<SerialPort> OpenTcpPort(const std::string& device, int* error);

// "tcp:HOST:PORT: connection refused" and the like: why the last open of
// `device` in this process failed, or, when none failed, what a fresh
// connection attempt says; the device alone when it connects.
std::string ExplainTcpPort(const std::string& device);

}  // namespace mbus::serial
