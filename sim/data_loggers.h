// Simulated data collectors for the data-logger protocols:
//
// - HouseCentral: a data concentrator on the serial line. It takes commands
//   after three 1Bh bytes, keeps its own slave list (sent as text records),
//   relays frames in the escape wrapper to the M-Bus behind it and wraps
//   the answers, sends its memory or an offered file with YMODEM (batch
//   header, 1024-byte blocks, EOT) and receives uploads.
// - TextLogger: a logger that sends "START", data lines of 48 bytes and
//   "ENDE", each line after the master has echoed the previous one.

#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial/simulated_port.h"
#include "sim/sim_bus.h"

namespace mbus::sim {

// A YMODEM block: SOH (128 bytes) or STX (1024), number, complement, data, CRC.
std::vector<uint8_t> YmodemBlock(uint8_t number, const uint8_t* data, std::size_t size);
// The header block of a file: its name, a zero, the size in decimal.
std::vector<uint8_t> YmodemHeader(const std::string& name, std::size_t size);

class HouseCentral final : public serial::LineDevice {
public:
    struct Slave {
        int primary = 0;
        std::string id;  // 8 digits
        std::string manufacturer;
        int version = 0;
        int medium = 0;
    };

    explicit HouseCentral(std::shared_ptr<SimBus> bus);

    void SetSlaveList(std::vector<Slave> slaves);
    void SetMemory(std::vector<uint8_t> memory);  // what a memory download gets
    // How long after an escape command (1Bh 1Bh 1Bh and the command) its
    // answer begins, at least; answers come 100 bit times and at least
    // 20 ms after a request.
    void SetCommandAnswerDelay(serial::SimClock::duration delay);
    // A file that a YMODEM download (the master's "C") receives.
    void OfferFile(std::string name, std::vector<uint8_t> data);
    // Faults of the next transmission: data block n (1 = the first after the
    // header) goes out garbled once; or the transfer is cancelled instead of
    // sending block n.
    void CorruptBlock(int n);
    void CancelAtBlock(int n);
    // Ready for an upload: asks for it with "C".
    void ExpectUpload();
    // Called with each file an upload brings (name, bytes).
    void SetUploadHandler(std::function<void(const std::string&, const std::vector<uint8_t>&)> handler);
    // Files received by uploads, by name.
    std::map<std::string, std::vector<uint8_t>> Uploads() const;
    int Retransmissions() const;

    bool Paced() const override;
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override;
    std::vector<serial::WireByte> Spontaneous(serial::SimClock::time_point now,
                                              const serial::SerialConfig& line) override;

private:
    std::vector<serial::WireByte> Bytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point at,
                                        const serial::SerialConfig& line) const;
    std::vector<uint8_t> Escaped(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                 const serial::SerialConfig& line);
    std::vector<uint8_t> Relay(const std::vector<uint8_t>& frame, serial::SimClock::time_point end,
                               const serial::SerialConfig& line);
    void StartSending(const std::string& name, const std::vector<uint8_t>& data);
    std::vector<uint8_t> Sender(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Receiver(const std::vector<uint8_t>& bytes);

    std::shared_ptr<SimBus> bus_;
    mutable std::mutex mutex_;
    std::vector<Slave> slaves_;
    std::vector<uint8_t> memory_;
    std::string offeredName_;
    std::vector<uint8_t> offered_;
    int corruptBlock_ = 0, cancelBlock_ = 0, retransmissions_ = 0;
    serial::SimClock::duration commandDelay_{};
    // Sending: the blocks (header, data, EOT) and the one in flight.
    std::vector<std::vector<uint8_t>> blocks_;
    int next_ = -1;  // -1: not sending
    // Receiving.
    bool expectUpload_ = false;
    serial::SimClock::time_point nextAsk_{};  // when to send "C" again while waiting for an upload
    std::string uploadName_;
    std::size_t uploadSize_ = 0;
    std::vector<uint8_t> uploadData_;
    uint8_t uploadBlock_ = 0;
    std::map<std::string, std::vector<uint8_t>> uploads_;
    std::function<void(const std::string&, const std::vector<uint8_t>&)> onUpload_;
};

class TextLogger final : public serial::LineDevice {
public:
    // `lines`: the data lines (47 characters each; CR is added).
    explicit TextLogger(std::vector<std::string> lines, bool paced = false);
    // The master echoed this many lines back.
    int Echoes() const;

    bool Paced() const override;
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override;
    std::vector<serial::WireByte> Spontaneous(serial::SimClock::time_point now,
                                              const serial::SerialConfig& line) override;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;  // START, the lines, ENDE
    std::size_t next_ = 0;
    bool waiting_ = false;            // for the echo of the last text
    serial::SimClock::time_point due_{};
    int echoes_ = 0;
    bool paced_;
};

}  // namespace mbus::sim
