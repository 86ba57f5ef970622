// The rate a program set on a terminal, whether given as one of the standard
// speed codes or as a number (a custom rate, as the serial port layer sets
// it). Kept apart from <termios.h>, whose definitions clash with the
// kernel's.

#pragma once

namespace mbus::sim {

// The terminal's output rate in baud; 0 when it cannot be read.
int TerminalRate(int fd);

}  // namespace mbus::sim
