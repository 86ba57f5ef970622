#include "tools/mbusctl/hex_input.h"

namespace mbus::cli {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

std::string Printable(char c) {
    if (c >= 0x20 && c < 0x7F) return std::string("'") + c + "'";
    static const char* kHex = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    return std::string("byte ") + kHex[u >> 4] + kHex[u & 0x0F] + "h";
}

}  // namespace

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
