#include "platform/text/codepage.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace mbus::text {
namespace {

#include "platform/text/codepage_tables.inc"

const char16_t* UpperHalf(CodePage page) {
    switch (page) {
        case CodePage::Windows1251: return kUpper1251;
        case CodePage::Windows1250: return kUpper1250;
        default: return kUpper1252;
    }
}

void PutUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads one character at `i`; advances `i`. Malformed sequences yield
// U+FFFD and consume one byte.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int extra = 0;
    char32_t c = 0;
    if ((b0 & 0xE0) == 0xC0) { extra = 1; c = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { extra = 2; c = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { extra = 3; c = b0 & 0x07; }
    else { ++i; return 0xFFFD; }
    if (i + extra >= s.size()) { ++i; return 0xFFFD; }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return 0xFFFD; }
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) { ++i; return 0xFFFD; }
    i += extra + 1;
    return c;
}

char EncodeOne(char32_t c, CodePage page, bool& lossless) {
    if (c < 0x80) return static_cast<char>(c);
    const char16_t* upper = UpperHalf(page);
    for (int b = 0; b < 128; ++b)
        if (upper[b] == c) return static_cast<char>(0x80 + b);
    lossless = false;
    return '?';
}

}  // namespace

CodePage CodePageOfLanguage(int language) {
    switch (language) {
        case 4: return CodePage::Windows1251;
        case 6:
        case 8: return CodePage::Windows1250;
        case 9: return CodePage::Utf8;
        default: return CodePage::Windows1252;
    }
}

void AppendUtf8(std::string& out, std::string_view bytes, CodePage page) {
    if (page == CodePage::Utf8) { out.append(bytes); return; }
    const char16_t* upper = UpperHalf(page);
    std::size_t i = 0;
    while (i < bytes.size()) {
        // ASCII runs are copied whole; only upper-half bytes need the table.
        std::size_t run = i;
        // Eight bytes at a time while none has its top bit set.
        while (run + 8 <= bytes.size()) {
            uint64_t word;
            std::memcpy(&word, bytes.data() + run, 8);
            if (word & 0x8080808080808080ULL) break;
            run += 8;
        }
        while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
        out.append(bytes.data() + i, run - i);
        if (run == bytes.size()) break;
        PutUtf8(out, upper[static_cast<unsigned char>(bytes[run]) - 0x80]);
        i = run + 1;
    }
}

std::string ToUtf8(std::string_view bytes, CodePage page) {
    std::string out;
    out.reserve(bytes.size());
    AppendUtf8(out, bytes, page);
    return out;
}

std::u16string ToUtf16(std::string_view bytes, CodePage page) {
    if (page == CodePage::Utf8) return Utf8ToUtf16(bytes);
    const char16_t* upper = UpperHalf(page);
    std::u16string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out += b < 0x80 ? static_cast<char16_t>(b) : upper[b - 0x80];
    }
    return out;
}

std::string FromUtf8(std::string_view utf8, CodePage page, bool* lossless) {
    bool ok = true;
    std::string out;
    if (page == CodePage::Utf8) {
        // Re-encode so that malformed input cannot pass through.
        for (std::size_t i = 0; i < utf8.size();) {
            const char32_t c = NextUtf8(utf8, i);
            if (c == 0xFFFD) ok = false;
            PutUtf8(out, c);
        }
    } else {
        out.reserve(utf8.size());
        for (std::size_t i = 0; i < utf8.size();) {
            const char32_t c = NextUtf8(utf8, i);
            out += EncodeOne(c, page, ok);
        }
    }
    if (lossless) *lossless = ok;
    return out;
}

std::string FromUtf16(std::u16string_view utf16, CodePage page, bool* lossless) {
    return FromUtf8(Utf16ToUtf8(utf16), page, lossless);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = NextUtf8(utf8, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
        PutUtf8(out, c);
    }
    return out;
}

std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    std::size_t n = maxBytes;
    // Step back over continuation bytes to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
    return utf8.substr(0, n);
}

std::string_view CutUtf8Characters(std::string_view utf8, std::size_t maxCharacters) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (characters == maxCharacters) return utf8.substr(0, i);
        ++characters;
    }
    return utf8;
}

}  // namespace mbus::text
