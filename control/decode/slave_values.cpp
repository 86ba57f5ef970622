// Addressing, selection and the RSP_UD of a simulated slave.

#include "control/decode/slave_values.h"

#include <algorithm>
#include <cstring>

namespace {

// Baud rates of the switch requests CI B8h..BFh.
constexpr int32_t kSwitchRates[8] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

// Frame types as classified by the link layer.
constexpr int kShortFrame = 1;
constexpr int kControlFrame = 2;
constexpr int kLongFrame = 3;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// The first `digits` characters of a text field of `capacity` bytes (which
// need not hold a terminating zero) as a number whose hexadecimal digits are
// those characters: "12345678" gives 12345678h, the BCD form of the decimal
// number. A shorter text is right-aligned; a character that is no digit
// counts as 0.
uint64_t PackedDigits(const char* text, std::size_t capacity, int digits) {
    const std::size_t n = std::min(strnlen(text, capacity), static_cast<std::size_t>(digits));
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 4) | static_cast<uint64_t>(HexDigit(text[i]));
    return v;
}

// A byte of a selection against the slave's byte: a nibble Fh in the
// request matches any nibble.
bool ByteMatches(uint8_t request, uint8_t own) {
    const bool high = (request & 0xF0) == 0xF0 || (request & 0xF0) == (own & 0xF0);
    const bool low = (request & 0x0F) == 0x0F || (request & 0x0F) == (own & 0x0F);
    return high && low;
}

// Writes the low `n` bytes of `value` at `out`, least or most significant first.
void PutBytes(uint8_t* out, int n, uint64_t value, bool lsbFirst) {
    for (int i = 0; i < n; ++i) {
        const int shift = 8 * (lsbFirst ? i : n - 1 - i);
        out[i] = static_cast<uint8_t>(value >> shift);
    }
}

}  // namespace

MBSlaveValues::MBSlaveValues() = default;
MBSlaveValues::~MBSlaveValues() = default;

bool MBSlaveValues::Addressed(uint8_t A) const {
    return (A == 253 && selectionState != 0) || A == primaryAddress || A == 254;
}

int MBSlaveValues::CheckAddress(int frameType, uint8_t C, uint8_t A, uint8_t CI, const uint8_t* data, int length) {
    const uint8_t function = static_cast<uint8_t>(C & ~0x30);  // without FCB and FCV
    switch (frameType) {
        case kShortFrame:
            if (function == 0x4B) return Addressed(A) ? 1 : 0;  // REQ_UD2
            if (C == 0x40) {                                    // SND_NKE
                if (A == primaryAddress || A == 254 || A == 255) {
                    firstAnswer = 1;
                    accessNumber = 0;
                    return A == 255 ? 0 : 1;  // the broadcast without answer resets but is not acknowledged
                }
                if (A == 253 && selectionState != 0) {
                    firstAnswer = 1;
                    accessNumber = 0;
                    selectionState = 0;
                    return 1;
                }
            }
            return 0;
        case kControlFrame: {
            if (function != 0x43) return 0;  // SND_UD only
            // The broadcast without answer (255) acts on every slave but is
            // not acknowledged; requests to other slaves leave this one alone.
            const bool addressed = Addressed(A);
            if (!addressed && A != 255) return 0;
            if (CI == 0x50) {  // application reset
                firstAnswer = 1;
                accessNumber = 0;
            } else if (CI >= 0xB8 && CI <= 0xBF) {
                requestedBaudRate = kSwitchRates[CI - 0xB8];
            }
            return addressed ? 1 : 0;
        }
        case kLongFrame:
            if (function != 0x43) return 0;
            if (CI == selectionCI && A == 253 && length > 16 && data != nullptr) return TestSelection(data, length);
            return Addressed(A) ? 1 : 0;
        default: return 0;
    }
}

// The secondary selection in a long frame of more than 16 bytes: bytes 7..14
// hold identification number, manufacturer, version and medium; an optional
// record after them asks for the fabrication number or the customer texts.
int MBSlaveValues::TestSelection(const uint8_t* d, int length) {
    const bool msb = MsbFirst();
    auto fieldMatches = [&](int pos, int n, uint64_t value) {
        for (int i = 0; i < n; ++i) {
            const int shift = 8 * (msb ? n - 1 - i : i);
            if (!ByteMatches(d[pos + i], static_cast<uint8_t>(value >> shift))) return false;
        }
        return true;
    };
    auto fail = [this]() {
        selectionState = 0;
        return 0;
    };

    selectionState = 1;
    if (!fieldMatches(7, 4, identNumber) || !fieldMatches(11, 2, manufacturer) ||
        !ByteMatches(d[13], static_cast<uint8_t>(version)) || !ByteMatches(d[14], static_cast<uint8_t>(medium)))
        return fail();

    if (length > 22 && d[15] == 0x0C && d[16] == 0x78) {
        if (!fieldMatches(17, 4, PackedDigits(fabricationNumber, sizeof fabricationNumber, 8))) return fail();
        selectionState = 2;
        return 1;
    }
    if (length >= 26 && d[15] == 0x06 && d[16] == 0xFD && (d[17] == 0x10 || d[17] == 0x11)) {
        const uint64_t location = PackedDigits(customerLocation, sizeof customerLocation, 12);
        const uint64_t number = PackedDigits(customer, sizeof customer, 12);
        const bool locationFirst = d[17] == 0x10;
        if (!fieldMatches(18, 6, locationFirst ? location : number)) return fail();
        selectionState = 3;
        const uint8_t other = locationFirst ? 0x11 : 0x10;
        if (length >= 35 && d[24] == 0x06 && d[25] == 0xFD && d[26] == other &&
            !fieldMatches(27, 6, locationFirst ? number : location))
            return fail();
        return 1;
    }
    return 1;
}

void MBSlaveValues::PrepareRSPUD(uint8_t, uint8_t, uint8_t* frame, int* length) {
    if (frame == nullptr || length == nullptr) return;
    frame[0] = frame[3] = 0x68;
    frame[4] = answerC;
    frame[5] = primaryAddress;
    frame[6] = answerCI;
    const bool headerLsb = selectionCI == 0x51 || selectionCI == 0x52;
    PutBytes(frame + 7, 4, identNumber, headerLsb);
    PutBytes(frame + 11, 2, manufacturer, headerLsb);
    frame[13] = static_cast<uint8_t>(version);
    frame[14] = static_cast<uint8_t>(medium);
    frame[15] = static_cast<uint8_t>(accessNumber);
    frame[16] = static_cast<uint8_t>(status);
    frame[17] = static_cast<uint8_t>(signature);
    frame[18] = static_cast<uint8_t>(signature >> 8);
    int p = 19;

    const bool lsb = !MsbFirst();
    if (selectionState == 2) {
        frame[p++] = 0x0C;
        frame[p++] = 0x78;
        PutBytes(frame + p, 4, PackedDigits(fabricationNumber, sizeof fabricationNumber, 8), lsb);
        p += 4;
    } else if (selectionState == 3) {
        const uint8_t codes[2] = {0x10, 0x11};
        const char* texts[2] = {customerLocation, customer};
        for (int i = 0; i < 2; ++i) {
            frame[p++] = 0x0E;
            frame[p++] = 0xFD;
            frame[p++] = codes[i];
            PutBytes(frame + p, 6, PackedDigits(texts[i], 16, 12), lsb);
            p += 6;
        }
    }

    // The user data: whole on a first answer, else the part when one is set.
    // Offsets and lengths are cut to the bytes really held and to the room
    // left in the frame.
    const int held = std::min(static_cast<int>(userDataSize & 0xFF), static_cast<int>(userData.size()));
    int from = 0, n = held;
    if (firstAnswer == 0 && ((userDataSize >> 8) & 0xFF) != 0) {
        from = std::min(static_cast<int>((userDataSize >> 24) & 0xFF), held);
        n = std::min(static_cast<int>((userDataSize >> 16) & 0xFF), held - from);
    }
    n = std::min(n, kMaxFrame - 2 - p);
    if (n > 0) std::memcpy(frame + p, userData.data() + from, static_cast<std::size_t>(n));
    p += n;
    firstAnswer = firstAnswer == 0 ? 1 : 0;

    uint8_t sum = 0;
    for (int i = 4; i < p; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame[p++] = sum;
    frame[p++] = 0x16;
    frame[1] = frame[2] = static_cast<uint8_t>(p - 6);
    *length = p;
    // Wraps instead of overflowing; only the low byte is ever sent.
    accessNumber = static_cast<int32_t>(static_cast<uint32_t>(accessNumber) + 1u);
}

bool MBSlaveValues::SetUserData(const uint8_t* data, int n) {
    if (n < 0 || n > kMaxUserData || (n > 0 && data == nullptr)) return false;
    userData.assign(data, data + n);
    userDataSize = (userDataSize & 0xFFFFFF00u) | static_cast<uint32_t>(n);
    return true;
}

bool MBSlaveValues::SetPartialAnswer(int offset, int length) {
    if (length == 0) {
        userDataSize &= 0xFFu;
        return true;
    }
    if (offset < 0 || length < 0 || offset + length > kMaxUserData) return false;
    userDataSize = (userDataSize & 0xFFu) | 0x100u | static_cast<uint32_t>(length) << 16 |
                   static_cast<uint32_t>(offset) << 24;
    return true;
}
