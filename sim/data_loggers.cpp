#include "sim/data_loggers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/link/ymodem.h"

namespace mbus::sim {

using namespace std::chrono_literals;

std::vector<uint8_t> YmodemBlock(uint8_t number, const uint8_t* data, std::size_t size) {
    const std::size_t length = size <= 128 ? 128 : 1024;
    std::vector<uint8_t> b(length + 5, 0x1A);
    b[0] = length == 128 ? 0x01 : 0x02;
    b[1] = number;
    b[2] = static_cast<uint8_t>(number ^ 0xFF);
    std::copy(data, data + size, b.begin() + 3);
    const uint16_t crc = link::Crc16Xmodem(b.data() + 3, length);
    b[length + 3] = static_cast<uint8_t>(crc >> 8);
    b[length + 4] = static_cast<uint8_t>(crc & 0xFF);
    return b;
}

std::vector<uint8_t> YmodemHeader(const std::string& name, std::size_t size) {
    std::vector<uint8_t> data(128, 0x00);
    std::string text = name;
    text += '\0';
    text += std::to_string(size) + " ";
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 128), data.begin());
    return YmodemBlock(0, data.data(), 128);
}

// ---- House-central unit ------------------------------------------------------------------

HouseCentral::HouseCentral(std::shared_ptr<SimBus> bus) : bus_(std::move(bus)) {}

void HouseCentral::SetSlaveList(std::vector<Slave> slaves) {
    std::lock_guard lock(mutex_);
    slaves_ = std::move(slaves);
}

void HouseCentral::SetMemory(std::vector<uint8_t> memory) {
    std::lock_guard lock(mutex_);
    memory_ = std::move(memory);
}

void HouseCentral::SetCommandAnswerDelay(serial::SimClock::duration delay) {
    std::lock_guard lock(mutex_);
    commandDelay_ = delay;
}

void HouseCentral::OfferFile(std::string name, std::vector<uint8_t> data) {
    std::lock_guard lock(mutex_);
    offeredName_ = std::move(name);
    offered_ = std::move(data);
}

void HouseCentral::CorruptBlock(int n) {
    std::lock_guard lock(mutex_);
    corruptBlock_ = n;
}

void HouseCentral::CancelAtBlock(int n) {
    std::lock_guard lock(mutex_);
    cancelBlock_ = n;
}

void HouseCentral::ExpectUpload() {
    std::lock_guard lock(mutex_);
    expectUpload_ = true;
    nextAsk_ = {};
    uploadName_.clear();
    uploadData_.clear();
    uploadBlock_ = 0;
}

void HouseCentral::SetUploadHandler(std::function<void(const std::string&, const std::vector<uint8_t>&)> handler) {
    std::lock_guard lock(mutex_);
    onUpload_ = std::move(handler);
}

std::map<std::string, std::vector<uint8_t>> HouseCentral::Uploads() const {
    std::lock_guard lock(mutex_);
    return uploads_;
}

int HouseCentral::Retransmissions() const {
    std::lock_guard lock(mutex_);
    return retransmissions_;
}

bool HouseCentral::Paced() const { return bus_->Paced(); }

std::vector<serial::WireByte> HouseCentral::Bytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point at,
                                                  const serial::SerialConfig& line) const {
    std::vector<serial::WireByte> out;
    const auto character = serial::CharacterTime(line);
    for (uint8_t v : bytes) {
        serial::WireByte b;
        b.at = at;
        b.value = v;
        out.push_back(b);
        if (bus_->Paced()) at += character;
    }
    return out;
}

void HouseCentral::StartSending(const std::string& name, const std::vector<uint8_t>& data) {
    blocks_.clear();
    blocks_.push_back(YmodemHeader(name, data.size()));
    uint8_t number = 1;
    for (std::size_t at = 0; at < data.size(); at += 1024, ++number)
        blocks_.push_back(YmodemBlock(number, data.data() + at, std::min<std::size_t>(1024, data.size() - at)));
    blocks_.push_back({0x04});
    next_ = 0;
}

// The sender's answer to what the master said ("C", ACK, NAK).
std::vector<uint8_t> HouseCentral::Sender(const std::vector<uint8_t>& bytes) {
    if (next_ < 0 || bytes.empty()) return {};
    const uint8_t first = bytes[0];
    int send;
    if (first == 0x43 && next_ == 0) {
        send = 0;  // the header
    } else if (first == 0x06) {
        send = next_ + 1;
    } else if (first == 0x15) {
        send = next_;
        ++retransmissions_;
    } else {
        return {};
    }
    if (send >= static_cast<int>(blocks_.size())) {
        next_ = -1;  // the EOT was acknowledged: done
        return {};
    }
    next_ = send;
    if (cancelBlock_ != 0 && send == cancelBlock_) {
        cancelBlock_ = 0;
        next_ = -1;
        return {0x18, 0x18};
    }
    std::vector<uint8_t> block = blocks_[static_cast<std::size_t>(send)];
    if (corruptBlock_ != 0 && send == corruptBlock_) {
        corruptBlock_ = 0;
        block[block.size() / 2] ^= 0x55;
    }
    return block;
}

// The receiver of an upload: header, blocks, EOT.
std::vector<uint8_t> HouseCentral::Receiver(const std::vector<uint8_t>& b) {
    if (b.size() == 1 && b[0] == 0x04) {
        uploadData_.resize(std::min(uploadData_.size(), uploadSize_));
        uploads_[uploadName_] = uploadData_;
        if (onUpload_) onUpload_(uploadName_, uploadData_);
        return {0x06};
    }
    if (b.size() != 133 && b.size() != 1029) return {0x15};
    const std::size_t size = b.size() - 5;
    if (b[2] != static_cast<uint8_t>(b[1] ^ 0xFF) || link::Crc16Xmodem(b.data() + 3, size + 2) != 0) return {0x15};
    if (b[1] == 0 && size == 128) {
        std::string name(reinterpret_cast<const char*>(b.data() + 3));
        if (name.empty()) return {0x06};  // the end of the batch
        uploadName_ = name;
        uploadSize_ = static_cast<std::size_t>(std::atoll(reinterpret_cast<const char*>(b.data() + 3 + name.size() + 1)));
        uploadData_.clear();
        uploadBlock_ = 1;
        return {0x06, 0x43};
    }
    if (b[1] != uploadBlock_) return {0x06};  // a repetition: acknowledged again
    uploadData_.insert(uploadData_.end(), b.begin() + 3, b.begin() + 3 + static_cast<std::ptrdiff_t>(size));
    ++uploadBlock_;
    return {0x06};
}

std::vector<uint8_t> HouseCentral::Relay(const std::vector<uint8_t>& frame, serial::SimClock::time_point end,
                                         const serial::SerialConfig& line) {
    std::vector<uint8_t> answer;
    for (const serial::WireByte& w : bus_->OnMasterBytes(frame, end, line)) answer.push_back(w.value);
    return answer;
}

std::vector<uint8_t> HouseCentral::Escaped(const std::vector<uint8_t>& b, serial::SimClock::time_point end,
                                           const serial::SerialConfig& line) {
    std::size_t e = 0;
    while (e < b.size() && b[e] == 0x1B) ++e;
    if (e >= b.size()) return {};
    const uint8_t command = b[e];
    auto wrap = [](const std::vector<uint8_t>& answer) {
        if (answer.empty() || answer.size() > 255) return answer;
        std::vector<uint8_t> w = {0x1B, 0x1B, 0x1B, 0x16, static_cast<uint8_t>(answer.size())};
        w.insert(w.end(), answer.begin(), answer.end());
        return w;
    };
    switch (command) {
        case 0x13:
            StartSending("memory", memory_);
            return {0x13};
        case 0x20: {
            std::vector<uint8_t> list;
            for (const Slave& s : slaves_) {
                char record[64];
                std::snprintf(record, sizeof record, "%3d%-8s %-3s %3d %2d  \r\n", s.primary, s.id.c_str(),
                              s.manufacturer.c_str(), s.version, s.medium);
                list.insert(list.end(), {0x1B, 0x1B, 0x1B, 0x20});
                list.insert(list.end(), record, record + std::strlen(record));
            }
            return list;
        }
        case 0x16: {
            if (e + 1 >= b.size()) return {};
            const std::size_t n = std::min<std::size_t>(b[e + 1], b.size() - e - 2);
            return wrap(Relay(std::vector<uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(e) + 2,
                                                   b.begin() + static_cast<std::ptrdiff_t>(e + 2 + n)),
                              end, line));
        }
        case 0x14: {
            if (e + 1 >= b.size()) return {};
            const uint8_t a = b[e + 1];
            return wrap(Relay({0x10, 0x7B, a, static_cast<uint8_t>(0x7B + a), 0x16}, end, line));
        }
        default: return {0x1B, 0x1B, 0x1B, command};
    }
}

std::vector<serial::WireByte> HouseCentral::OnMasterBytes(const std::vector<uint8_t>& bytes,
                                                          serial::SimClock::time_point end,
                                                          const serial::SerialConfig& line) {
    std::lock_guard lock(mutex_);
    // Answers come after 100 bit times (at least 20 ms), well past the
    // master's dead time.
    const auto at = end + std::max<serial::SimClock::duration>(20ms, serial::CharacterTime(line) * 100 / 11);
    const bool ymodemBlock = (bytes.size() == 133 && bytes[0] == 0x01) || (bytes.size() == 1029 && bytes[0] == 0x02) ||
                             (bytes.size() == 1 && bytes[0] == 0x04);
    if (expectUpload_ && ymodemBlock) {
        std::vector<uint8_t> reply = Receiver(bytes);
        if (reply.size() == 1 && reply[0] == 0x06 && bytes.size() == 133 && bytes[3] == 0) expectUpload_ = false;
        return Bytes(reply, at, line);
    }
    if (next_ >= 0 && !bytes.empty() && (bytes[0] == 0x43 || bytes[0] == 0x06 || bytes[0] == 0x15))
        return Bytes(Sender(bytes), at, line);
    if (bytes.size() >= 3 && bytes[0] == 0x08 && bytes[1] == 0x08 && bytes[2] == 0x08)
        return Bytes({0x1B, 0x1B, 0x1B, 0x01}, at, line);
    if (!bytes.empty() && bytes[0] == 0x1B)
        return Bytes(Escaped(bytes, end, line), std::max(at, end + commandDelay_), line);
    if (!bytes.empty() && bytes[0] == 0x43 && !offered_.empty()) {
        // A download: the offered file goes out, header first.
        StartSending(offeredName_, offered_);
        return Bytes(Sender(bytes), at, line);
    }
    // Anything else goes to the bus as it is.
    return bus_->OnMasterBytes(bytes, end, line);
}

std::vector<serial::WireByte> HouseCentral::Spontaneous(serial::SimClock::time_point now,
                                                        const serial::SerialConfig& line) {
    std::lock_guard lock(mutex_);
    // A receiver waiting for an upload asks with "C" every second.
    if (!expectUpload_ || !uploadName_.empty() || now < nextAsk_) return {};
    nextAsk_ = now + 1s;
    return Bytes({0x43}, now, line);
}

// ---- Text logger ------------------------------------------------------------------------

TextLogger::TextLogger(std::vector<std::string> lines, bool paced) : paced_(paced) {
    texts_.push_back("START\r");
    for (std::string& l : lines) {
        l.resize(47, ' ');
        texts_.push_back(l + "\r");
    }
    texts_.push_back("ENDE\r");
}

int TextLogger::Echoes() const {
    std::lock_guard lock(mutex_);
    return echoes_;
}

bool TextLogger::Paced() const { return paced_; }

std::vector<serial::WireByte> TextLogger::OnMasterBytes(const std::vector<uint8_t>& bytes,
                                                        serial::SimClock::time_point end, const serial::SerialConfig&) {
    std::lock_guard lock(mutex_);
    if (waiting_ && !bytes.empty() && bytes.back() == 0x0A) {
        waiting_ = false;
        ++echoes_;
        due_ = end + 20ms;
    }
    return {};
}

std::vector<serial::WireByte> TextLogger::Spontaneous(serial::SimClock::time_point now,
                                                      const serial::SerialConfig& line) {
    std::lock_guard lock(mutex_);
    if (waiting_ || next_ >= texts_.size() || now < due_) return {};
    std::vector<serial::WireByte> out;
    auto at = now;
    for (char c : texts_[next_]) {
        serial::WireByte b;
        b.at = at;
        b.value = static_cast<uint8_t>(c);
        out.push_back(b);
        if (paced_) at += serial::CharacterTime(line);
    }
    ++next_;
    waiting_ = true;
    return out;
}

}  // namespace mbus::sim
