#include "tools/mbusctl/hex_input.h"

namespace mbus::cli {
namespace {

constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

std::string Printable(char c) {
    if (c >= 0x20 && c < 0x7F) return std::string("'") + c + "'";
    static const char* kHex = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    return std::string("byte ") + kHex[u >> 4] + kHex[u & 0x0F] + "h";
}

// Character classes of ParseHexInto: a digit's value 0..15, a blank, or
// anything else.
constexpr uint8_t kBlankClass = 16;
constexpr uint8_t kBadClass = 255;

struct HexTables {
    uint8_t value[256];  // 0..15, kBlankClass or kBadClass
    uint16_t blank[256];  // 0 for a blank, else 0x100
};

constexpr HexTables MakeHexTables() {
    HexTables t{};
    for (int c = 0; c < 256; ++c) {
        const int v = HexValue(static_cast<char>(c));
        const bool blank = IsBlank(static_cast<char>(c));
        t.value[c] = v >= 0 ? static_cast<uint8_t>(v) : blank ? kBlankClass : kBadClass;
        t.blank[c] = blank ? 0 : 0x100;
    }
    return t;
}

constexpr HexTables kTables = MakeHexTables();

// Two characters at once, the first in the low byte of the index: the
// byte they spell, or 0x100 when either is not a hex digit.
struct PairTable {
    uint16_t of[65536];
};

constexpr PairTable MakePairTable() {
    PairTable t{};
    for (int i = 0; i < 65536; ++i) {
        const int high = HexValue(static_cast<char>(i & 0xFF)), low = HexValue(static_cast<char>(i >> 8));
        t.of[i] = high >= 0 && low >= 0 ? static_cast<uint16_t>(high << 4 | low) : 0x100;
    }
    return t;
}

constexpr PairTable kPairs = MakePairTable();

inline unsigned Pair(const unsigned char* p) { return kPairs.of[p[0] | p[1] << 8]; }

}  // namespace

long ParseHexInto(std::string_view text, std::vector<uint8_t>& buffer) {
    if (buffer.size() < text.size() / 2 + 1) buffer.resize(text.size() / 2 + 1);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    uint8_t* const first = buffer.data();
    uint8_t* o = first;
    for (;;) {
        // The usual shape, "68 1F 1F ": two digits and a blank at a time,
        // four bytes to a test.
        while (end - p >= 12) {
            const unsigned b0 = Pair(p + 0) | kTables.blank[p[2]];
            const unsigned b1 = Pair(p + 3) | kTables.blank[p[5]];
            const unsigned b2 = Pair(p + 6) | kTables.blank[p[8]];
            const unsigned b3 = Pair(p + 9) | kTables.blank[p[11]];
            if ((b0 | b1 | b2 | b3) > 0xFF) break;
            o[0] = static_cast<uint8_t>(b0);
            o[1] = static_cast<uint8_t>(b1);
            o[2] = static_cast<uint8_t>(b2);
            o[3] = static_cast<uint8_t>(b3);
            o += 4;
            p += 12;
        }
        while (end - p >= 3) {
            const unsigned byte = Pair(p) | kTables.blank[p[2]];
            if (byte > 0xFF) break;
            *o++ = static_cast<uint8_t>(byte);
            p += 3;
        }
        if (p == end) break;
        // Anything else one token at a time: a blank, or a digit pair.
        const uint8_t c = kTables.value[*p];
        if (c == kBlankClass) {
            ++p;
            continue;
        }
        if (c > 15 || end - p < 2) return -1;
        const uint8_t d = kTables.value[p[1]];
        if (d > 15) return -1;
        *o++ = static_cast<uint8_t>(c << 4 | d);
        p += 2;
    }
    return o == first ? -1 : o - first;
}

HexParse ParseHexBytes(std::string_view text) {
    HexParse r;
    int pending = -1;  // high nibble waiting for its low nibble
    std::size_t digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsBlank(c)) {
            if (pending >= 0) {
                r.error = "a lone hex digit at column " + std::to_string(i) +
                          "; give every byte as two digits, e.g. \"0F\" instead of \"F\"";
                return r;
            }
            continue;
        }
        const int v = HexValue(c);
        if (v < 0) {
            r.error = "not a hex digit: " + Printable(c) + " at column " + std::to_string(i + 1) +
                      "; use 0-9 and A-F, bytes separated by blanks or not";
            return r;
        }
        ++digits;
        if (pending < 0) {
            pending = v;
        } else {
            r.bytes.push_back(static_cast<uint8_t>(pending << 4 | v));
            pending = -1;
        }
    }
    if (pending >= 0) {
        r.error = "odd number of hex digits (" + std::to_string(digits) + "); give whole bytes, e.g. \"68 1F\"";
        return r;
    }
    if (r.bytes.empty()) r.error = "no bytes given; give a telegram as hex digit pairs, e.g. \"E5\"";
    return r;
}

}  // namespace mbus::cli
