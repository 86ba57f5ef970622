// A simulated Hayes modem between a master's port and a remote bus. In
// command mode it answers AT commands ("OK"); ATD dials and, as set up,
// connects (carrier detect on, "CONNECT"), finds no carrier or a busy
// line. Online, the bytes go through to the remote bus and its answers come
// back; "+++" after a second of silence returns to command mode, ATH hangs
// up, and dropping DTR or losing the carrier ends the call.

#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial/simulated_port.h"

namespace mbus::sim {

class HayesModem final : public serial::LineDevice {
public:
    enum class Answer { kConnect, kNoCarrier, kBusy };

    explicit HayesModem(std::shared_ptr<serial::LineDevice> remote);

    // What the next calls meet, and how long dialling takes.
    void SetAnswer(Answer answer);
    void SetDialTime(std::chrono::milliseconds time);
    // The rate of the line behind the modem (0: the same as the master's).
    void SetRemoteBaud(int baud);
    // The line drops: the carrier goes away.
    void DropCarrier();
    bool Online() const;
    // The command lines the modem received, in order ("ATD T0123", ...).
    std::vector<std::string> Commands() const;

    bool Paced() const override;
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override;
    void OnDTR(bool on) override;
    serial::ModemStatus Status() override;

private:
    std::vector<serial::WireByte> Reply(const std::string& text, serial::SimClock::time_point at,
                                        const serial::SerialConfig& line) const;
    std::vector<serial::WireByte> Command(const std::string& command, serial::SimClock::time_point end,
                                          const serial::SerialConfig& line);

    std::shared_ptr<serial::LineDevice> remote_;
    mutable std::mutex mutex_;
    Answer answer_ = Answer::kConnect;
    std::chrono::milliseconds dialTime_{500};
    int remoteBaud_ = 0;
    bool carrier_ = false;     // a call stands
    bool dataMode_ = false;    // bytes go through to the remote bus
    serial::SimClock::time_point carrierFrom_{};
    serial::SimClock::time_point lastData_{};
    std::string pending_;      // a command line being received
    std::vector<std::string> commands_;
};

}  // namespace mbus::sim
