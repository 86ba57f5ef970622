#include "platform/serial/serial_port.h"

namespace mbus::serial {

std::chrono::nanoseconds CharacterTime(const SerialConfig& c) {
    const double bits = 1 + c.dataBits + (c.parity != 0 ? 1 : 0) + (c.stopBits == -1 ? 1.5 : c.stopBits);
    const int baud = c.baud > 0 ? c.baud : 1;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(bits / baud));
}

}  // namespace mbus::serial
