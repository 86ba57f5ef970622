// The line settings mbusctl scan uses unless the user gives them: tries per
// address or mask, the pause after a collision and the answer timeout's
// offset, by baud rate. The control keeps its own defaults; these are put
// into it before the port opens.

#pragma once

#include "tools/mbusctl/control_client.h"

namespace mbus::cli {

// Settings of one baud rate.
struct ScanDefaults {
    int baud;
    int tries;          // COMRetries: transmissions of a probe or read
    int searchDelay;    // SCRSlaveSearchDelay, ms
    int timeoutOffset;  // COMTimeoutOffset TO, ms (TA stays 330 bit times)
};

// The row for `baud`: the nearest listed rate at or below it (the lowest
// row below 300).
const ScanDefaults& ScanDefaultsFor(int baud);

// The retry count reads get unless the user gives one.
inline constexpr int kReadRetries = 3;

// Puts the line settings of a command into the control, before COMOpen
// (which takes the timing over). For a scan: the retries, the search delay
// and the timeout offset of the rate; otherwise the read retries and the
// control's own pause and timing. A given value (>= 0) wins over the
// default.
void ApplyScanDefaults(const ControlClient& control, bool scan, int baud, int retries, int searchDelay);

}  // namespace mbus::cli
