// Cuts the byte stream a master sends into frames by their length rules:
// E5h alone, 10h short frames of 5 bytes, 68h L L 68h ... 16h (control and
// long frames) and the extended D8h frame with a 16-bit length. Bytes that
// begin no valid frame (wrong start byte, lengths that disagree, checksum or
// stop byte wrong) are dropped one at a time until a frame starts again.

#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/serial/simulated_port.h"

namespace mbus::sim {

// One byte of the master with the time it has left the line and the rate
// it was sent at.
struct MasterByte {
    uint8_t value = 0;
    serial::SimClock::time_point at;
    int baud = 0;
};

class FrameCutter {
public:
    void Push(const MasterByte& b) { pending_.push_back(b); }
    // Takes the next complete frame off the front; false when none is
    // complete yet (the bytes of an incomplete one stay).
    bool Next(std::vector<MasterByte>* frame);
    void Clear() { pending_.clear(); }
    bool Empty() const { return pending_.empty(); }
    std::size_t Size() const { return pending_.size(); }
    // Time of the newest byte held (only when not empty).
    serial::SimClock::time_point LastTime() const { return pending_.back().at; }
    // Bytes dropped while resynchronising, since construction.
    std::size_t Discarded() const { return discarded_; }

private:
    void DropFirst();
    std::deque<MasterByte> pending_;
    std::size_t discarded_ = 0;
};

}  // namespace mbus::sim
