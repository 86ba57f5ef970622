#include "sim/hayes_modem.h"

#include <algorithm>
#include <cctype>

namespace mbus::sim {

using namespace std::chrono_literals;

HayesModem::HayesModem(std::shared_ptr<serial::LineDevice> remote) : remote_(std::move(remote)) {}

void HayesModem::SetAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    answer_ = answer;
}

void HayesModem::SetDialTime(std::chrono::milliseconds time) {
    std::lock_guard lock(mutex_);
    dialTime_ = time;
}

void HayesModem::SetRemoteBaud(int baud) {
    std::lock_guard lock(mutex_);
    remoteBaud_ = baud;
}

void HayesModem::DropCarrier() {
    std::lock_guard lock(mutex_);
    carrier_ = false;
    dataMode_ = false;
}

bool HayesModem::Online() const {
    std::lock_guard lock(mutex_);
    return carrier_ && serial::SimClock::now() >= carrierFrom_;
}

std::vector<std::string> HayesModem::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool HayesModem::Paced() const { return remote_->Paced(); }

void HayesModem::OnDTR(bool on) {
    if (on) return;
    // The usual setting (&D2): dropping DTR hangs up.
    std::lock_guard lock(mutex_);
    carrier_ = false;
    dataMode_ = false;
}

serial::ModemStatus HayesModem::Status() {
    std::lock_guard lock(mutex_);
    serial::ModemStatus s;
    s.cts = s.dsr = true;
    s.dcd = carrier_ && serial::SimClock::now() >= carrierFrom_;
    return s;
}

std::vector<serial::WireByte> HayesModem::Reply(const std::string& text, serial::SimClock::time_point at,
                                                const serial::SerialConfig& line) const {
    std::vector<serial::WireByte> out;
    const auto character = serial::CharacterTime(line);
    for (char c : text) {
        serial::WireByte b;
        b.at = at;
        b.value = static_cast<uint8_t>(c);
        out.push_back(b);
        if (remote_->Paced()) at += character;
    }
    return out;
}

std::vector<serial::WireByte> HayesModem::Command(const std::string& raw, serial::SimClock::time_point end,
                                                  const serial::SerialConfig& line) {
    std::string command;
    for (char c : raw)
        if (c != ' ') command += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    commands_.push_back(raw);
    if (command.rfind("AT", 0) != 0) return Reply("\r\nERROR\r\n", end + serial::CharacterTime(line) * 100 / 11, line);
    if (command.find('D', 2) != std::string::npos && command.find("ATD") != std::string::npos) {
        const auto at = end + dialTime_;
        switch (answer_) {
            case Answer::kConnect:
                carrier_ = true;
                dataMode_ = true;
                carrierFrom_ = at;
                lastData_ = at;
                return Reply("\r\nCONNECT 2400\r\n", at, line);
            case Answer::kNoCarrier: return Reply("\r\nNO CARRIER\r\n", at, line);
            case Answer::kBusy: return Reply("\r\nBUSY\r\n", at, line);
        }
    }
    if (command.rfind("ATH", 0) == 0) {
        carrier_ = false;
        dataMode_ = false;
        return Reply("\r\nOK\r\n", end + serial::CharacterTime(line) * 100 / 11, line);
    }
    if (command.rfind("ATO", 0) == 0 && carrier_) {
        dataMode_ = true;
        lastData_ = end;
        return Reply("\r\nCONNECT 2400\r\n", end + serial::CharacterTime(line) * 100 / 11, line);
    }
    return Reply("\r\nOK\r\n", end + serial::CharacterTime(line) * 100 / 11, line);
}

std::vector<serial::WireByte> HayesModem::OnMasterBytes(const std::vector<uint8_t>& bytes,
                                                        serial::SimClock::time_point end,
                                                        const serial::SerialConfig& line) {
    std::unique_lock lock(mutex_);
    if (dataMode_ && carrier_) {
        const std::string text(bytes.begin(), bytes.end());
        if (text == "+++" && end - lastData_ >= 1s) {
            // The escape: after the guard time the modem takes commands again.
            dataMode_ = false;
            return Reply("\r\nOK\r\n", end + 1s, line);
        }
        lastData_ = end;
        serial::SerialConfig remote = line;
        if (remoteBaud_ > 0) remote.baud = remoteBaud_;
        lock.unlock();
        return remote_->OnMasterBytes(bytes, end, remote);
    }
    std::vector<serial::WireByte> out;
    for (uint8_t b : bytes) {
        if (b == '\r' || b == '\n') {
            if (!pending_.empty()) {
                std::vector<serial::WireByte> reply = Command(pending_, end, line);
                out.insert(out.end(), reply.begin(), reply.end());
            }
            pending_.clear();
        } else if (pending_.size() < 256) {
            pending_ += static_cast<char>(b);
        }
    }
    return out;
}

}  // namespace mbus::sim
