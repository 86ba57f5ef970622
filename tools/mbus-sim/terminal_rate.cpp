#include "tools/mbus-sim/terminal_rate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace mbus::sim {

int TerminalRate(int fd) {
    // The kernel keeps the rate as a number beside the speed code, whichever
    // of the two the program gave.
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return static_cast<int>(t.c_ospeed);
}

}  // namespace mbus::sim
