// The line parameters a channel opens its port with.

#pragma once

#include <cstdint>

namespace mbus::engine {

struct ConnectionParameters {
    int32_t port = 2;
    int32_t baud = 2400;
    int32_t dataBits = 8;
    int32_t stopBits = 1;
    int32_t parity = 1;    // 0 none, 1 even, 2 odd
    int32_t rts = 0;       // 0 Reset, 1 Set, 2 Handshake, 3 Toggle
    int32_t dtr = 0;       // 0 Reset, 1 Set, 2 Handshake
    int32_t TA = 330;      // answer timeout, bit times
    int32_t TO = 50;       // timeout offset, ms
    int32_t TB = 4;        // byte timeout, bit times
    int32_t waitMode = 2;  // 0 NoWait, 1 FullWait, 2 PartWait
    int32_t DT = 11;       // dead time, bit times
    int32_t retries = 3;   // transmissions of a request, the first included
    int32_t fifo = 1;
    int32_t highSpeed = 0;
    int32_t zeroPreamble = 0;  // no parity and ten 00h bytes before every frame (scripts only)
};

// Settings of a channel's modem (the TEL properties); every new layer object
// works with them.
struct ModemParameters {
    int32_t additionalTelegramTimeout = 6000;  // ms added to TO while a modem is used
    int32_t additionalTimeoutByte = 5000;      // bit times added to TB
    int32_t connectTimeout = 60;               // s allowed for the carrier after dialling
    int32_t toneDial = 1;                      // 1 tone, 0 pulse
    int32_t mode = 1;                          // 1: no parity while a modem is used
    int32_t newLine = 0;                       // end of a command: 0 CR LF, 1 CR, 2 LF, 3 LF CR
};

// Modem state of a layer object.
enum ModemState : int32_t {
    kModemIdle = 0,
    kModemDialling = 1,
    kModemInitialising = 2,
    kModemHangingUp = 3,
    kModemConnected = 4,
};

// a + b, kept within the int32 range (settings may hold any value).
inline int32_t SaturatingAdd(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    return static_cast<int32_t>(sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : sum);
}

// The line end of modem commands for a `newLine` setting.
inline const char* ModemLineEnd(int32_t newLine) {
    switch (newLine) {
        case 1: return "\r";
        case 2: return "\n";
        case 3: return "\n\r";
        default: return "\r\n";
    }
}

}  // namespace mbus::engine
