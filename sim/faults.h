// Faults the simulated bus injects into answers, for tests of a master's
// error handling: lost, garbled and extra bytes, UART parity and framing
// errors, and answers that never come.
//
// Text form (the fault queue of mbus-sim and of bus descriptions):
//   KIND[@POS][:ARG]
//   none             the answer passes unharmed (keeps a place in the queue)
//   drop[@POS]       the byte is lost
//   flip[@POS][:MASK] the bits of MASK (hex, default 01) are inverted
//   extra[@POS][:BYTE] a byte (hex, default FF) is inserted so that it
//                    becomes byte POS of the answer; the bytes behind it come
//                    one character time later
//   parity[@POS]     the byte arrives with a parity error
//   framing[@POS]    the byte arrives with a framing error
//   silence          the answer is not sent at all
// POS counts the bytes of the answer from 0; a negative POS counts from the
// end (-1 the last byte; for extra, -1 appends). Without POS a fault acts
// on the last byte (extra: appends). A POS beyond the answer acts on its
// last byte (extra: appends).

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/wire.h"

namespace mbus::sim {

enum class FaultKind { kNone, kDrop, kFlip, kExtra, kParity, kFraming, kSilence };

struct Fault {
    FaultKind kind = FaultKind::kNone;
    std::optional<int> position;  // empty: the end of the answer
    uint8_t arg = 0;              // flip: the mask; extra: the byte

    static Fault Drop(std::optional<int> pos = {}) { return {FaultKind::kDrop, pos, 0}; }
    static Fault Flip(std::optional<int> pos = {}, uint8_t mask = 0x01) { return {FaultKind::kFlip, pos, mask}; }
    static Fault Extra(std::optional<int> pos = {}, uint8_t byte = 0xFF) { return {FaultKind::kExtra, pos, byte}; }
    static Fault Parity(std::optional<int> pos = {}) { return {FaultKind::kParity, pos, 0}; }
    static Fault Framing(std::optional<int> pos = {}) { return {FaultKind::kFraming, pos, 0}; }
    static Fault Silence() { return {FaultKind::kSilence, {}, 0}; }
    static Fault None() { return {}; }
};

// Parses the text form; on failure returns nothing and sets *error to a
// message that says what would be accepted.
std::optional<Fault> ParseFault(std::string_view text, std::string* error);
// The text form of a fault (ParseFault gives it back).
std::string FaultText(const Fault& fault);

// Applies a fault to an answer on the line (bytes in time order).
void ApplyFault(const Fault& fault, std::vector<LineByte>& answer, SimClock::duration characterTime);

}  // namespace mbus::sim
