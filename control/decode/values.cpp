// Decoding of data-record values: integers, reals, BCD, variable length,
// and the calendar form of date records.

#include <charconv>
#include <cstring>

#include "control/decode/conversions.h"
#include "control/decode/telegram.h"
#include "control/decode/text_tables.h"

using namespace mbus;

namespace {

constexpr int64_t kPow10[] = {1LL,
                              10LL,
                              100LL,
                              1000LL,
                              10000LL,
                              100000LL,
                              1000000LL,
                              10000000LL,
                              100000000LL,
                              1000000000LL,
                              10000000000LL,
                              100000000000LL,
                              1000000000000LL,
                              10000000000000LL,
                              100000000000000LL};

// Value bytes of each data-field coding (13, variable length, is not fixed).
constexpr int kCodingBytes[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, -1, 6, 0};

bool IsBCD(int coding) { return coding == 9 || coding == 10 || coding == 11 || coding == 12 || coding == 14; }
bool IsInteger(int coding) { return (coding >= 1 && coding <= 4) || coding == 6 || coding == 7; }

void AppendDecimal(std::string& out, int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

// `digits` lowest decimal digits of |v|, zero-padded, "-" in front when negative.
void AppendPadded(std::string& out, int64_t v, int digits) {
    uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char buf[24];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    }
    if (v < 0) out += '-';
    out.append(buf, static_cast<std::size_t>(digits));
}

void AppendReal(std::string& out, float real) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(real), std::chars_format::scientific, 6);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void Append2(std::string& out, int v) {
    out += static_cast<char>('0' + (v / 10) % 10);
    out += static_cast<char>('0' + v % 10);
}

void SetText(std::string* text, int* textLength, bool* hasText) {
    *textLength = text->empty() ? 1 : static_cast<int>(text->size());
    *hasText = true;
}

// Bytes of a binary number of LVAR F0h..F6h: 4 x (LVAR - ECh) for F0h..F4h
// (16 to 32), then 48 and 64; -1 for the reserved F7h..FFh.
int LongBinaryBytes(int L) {
    if (L <= 0xF4) return 4 * (L - 0xEC);
    if (L == 0xF5) return 48;
    if (L == 0xF6) return 64;
    return -1;
}

// Decodes a variable-length value (LVAR byte at `pos`) into `text`. The
// characters, BCD digits and hexadecimal bytes are taken last byte first
// (least significant byte first telegrams) or in received order. Returns
// the bytes taken (LVAR included), or -1 when the value does not fit or
// the LVAR is reserved.
int DecodeVariable(const uint8_t* data, int length, int pos, bool lastByteFirst, std::string& text) {
    if (pos >= length) return -1;
    const int L = data[pos];
    int n;
    enum { Text, BCD, Hex } form;
    if (L < 0xC0) { n = L; form = Text; }
    else if (L < 0xE0) { n = L & 0x0F; form = BCD; }
    else if (L < 0xF0) { n = L - 0xE0; form = Hex; }
    else if ((n = LongBinaryBytes(L)) >= 0) form = Hex;
    else return -1;  // reserved
    if (pos + 1 + n > length) return -1;
    if (form == BCD && L >= 0xD0) text += '-';
    for (int k = 0; k < n; ++k) {
        const uint8_t b = data[pos + 1 + (lastByteFirst ? n - 1 - k : k)];
        if (form == Text) {
            text += static_cast<char>(b);
        } else if (form == BCD) {
            text += static_cast<char>('0' + (b >> 4));
            text += static_cast<char>('0' + (b & 0x0F));
        } else {
            text += HTATab[b >> 4];
            text += HTATab[b & 0x0F];
        }
    }
    return n + 1;
}

void ClearOutputs(int64_t* value, float* real, std::string* text, int* textLength, bool* hasText) {
    *value = 0;
    *real = 0.0f;
    text->clear();
    *textLength = 0;
    *hasText = false;
}

}  // namespace

int MBTelegram::ReturnNumberOfValueBytes(uint8_t DIF, uint8_t LVAR) {
    const int coding = DIF & 0x0F;
    if (coding != 0x0D) return kCodingBytes[coding];
    if (LVAR < 0xC0) return LVAR + 1;
    if (LVAR < 0xD0) return LVAR - 0xC0 + 1;
    if (LVAR < 0xE0) return LVAR - 0xD0 + 1;
    if (LVAR < 0xF0) return LVAR - 0xE0 + 1;
    const int n = LongBinaryBytes(LVAR);
    return n < 0 ? -1 : n + 1;
}

void MBTelegram::CheckBCDforHEX(int coding, const uint8_t* data, const int* position, int64_t* value, int* invalid,
                                int* topDone, int* negative) {
    *topDone = 1;
    if (!IsBCD(coding)) return;
    *invalid = 0;
    *negative = 0;
    const int k = kCodingBytes[coding];
    const uint8_t b = data[*position + k - 1];
    const int64_t H = kPow10[2 * k - 1];
    const int64_t L = kPow10[2 * k - 2];
    const int hi = b >> 4, lo = b & 0x0F;
    // A top nibble Fh is the minus sign; any other digit above 9 (Ah..Eh, or
    // a low digit of Ah..Fh) is no number: meters send those in error states.
    if (lo > 9 || (hi > 9 && hi != 0xF)) {
        *invalid = 1;
        return;
    }
    if (hi == 0xF) {
        *negative = 1;
        *value += lo * L;
    } else {
        *value += hi * H + lo * L;
    }
}

void MBTelegram::ExtractValueM1(int coding, const uint8_t* data, int length, int* position, int64_t* value,
                                float* real, std::string* text, int* textLength, bool* hasText) {
    const int64_t m = *value;
    const int extraDigits = (m == 10) ? 1 : (m == 100) ? 2 : 0;
    ClearOutputs(value, real, text, textLength, hasText);
    const int pos = *position;
    coding &= 0x0F;

    if (coding == 0 || coding == 8 || coding == 15) {
        SetText(text, textLength, hasText);
        return;
    }
    if (IsInteger(coding)) {
        const int n = kCodingBytes[coding];
        if (pos + n > length) return;
        uint64_t u = 0;
        for (int i = n - 1; i >= 0; --i) u = (u << 8) | data[pos + i];
        if (n < 8 && (data[pos + n - 1] & 0x80)) u |= ~0ULL << (8 * n);  // sign extension
        *value = static_cast<int64_t>(u * static_cast<uint64_t>(m));
        *position = pos + n;
        AppendDecimal(*text, *value);
        SetText(text, textLength, hasText);
        return;
    }
    if (coding == 5) {
        if (pos + 4 > length) return;
        const uint32_t bits = static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8 |
                              static_cast<uint32_t>(data[pos + 2]) << 16 | static_cast<uint32_t>(data[pos + 3]) << 24;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        *real = f * static_cast<float>(m);
        *position = pos + 4;
        AppendReal(*text, *real);
        SetText(text, textLength, hasText);
        return;
    }
    if (IsBCD(coding)) {
        const int k = kCodingBytes[coding];
        if (pos + k > length) return;
        int invalid = 0, topDone = 0, negative = 0;
        int64_t v = 0;
        CheckBCDforHEX(coding, data, position, &v, &invalid, &topDone, &negative);
        for (int j = 0; j < k - 1; ++j) {
            const uint8_t b = data[pos + j];
            if ((b >> 4) > 9 || (b & 0x0F) > 9) invalid = 1;
            v += (b >> 4) * kPow10[2 * j + 1] + (b & 0x0F) * kPow10[2 * j];
        }
        *position = pos + k;
        if (invalid) {
            // No number: the value is 0 and the text the digits as received
            // (most significant first), so that nobody reads a plausible value.
            *value = 0;
            for (int j = k - 1; j >= 0; --j) {
                *text += HTATab[data[pos + j] >> 4];
                *text += HTATab[data[pos + j] & 0x0F];
            }
            SetText(text, textLength, hasText);
            return;
        }
        v = static_cast<int64_t>(static_cast<uint64_t>(v) * static_cast<uint64_t>(m));
        if (negative) v = static_cast<int64_t>(0 - static_cast<uint64_t>(v));
        *value = v;
        AppendPadded(*text, v, 2 * k + extraDigits);
        SetText(text, textLength, hasText);
        return;
    }
    // Coding 13: variable length, the LVAR byte first.
    const int taken = DecodeVariable(data, length, pos, true, *text);
    if (taken < 0) {
        text->clear();
        return;
    }
    *position = pos + taken;
    SetText(text, textLength, hasText);
    if (text->empty()) *textLength = 0;
}

void MBTelegram::ExtractValueM2(int coding, const uint8_t* data, int length, int* position, int64_t* value,
                                float* real, std::string* text, int* textLength, bool* hasText) {
    coding &= 0x0F;
    const int pos = *position;
    if (coding == 0 || coding == 8 || coding == 15) {
        // Nothing to decode in most-significant-first order.
        ClearOutputs(value, real, text, textLength, hasText);
        return;
    }
    if (coding != 13) {
        // Fixed length: the bytes reversed into a scratch value, decoded as
        // least significant byte first.
        const int n = kCodingBytes[coding];
        if (pos + n > length) {
            ClearOutputs(value, real, text, textLength, hasText);
            return;
        }
        uint8_t scratch[8];
        for (int i = 0; i < n; ++i) scratch[i] = data[pos + n - 1 - i];
        int p = 0;
        ExtractValueM1(coding, scratch, n, &p, value, real, text, textLength, hasText);
        *position = pos + n;
        return;
    }
    ClearOutputs(value, real, text, textLength, hasText);
    const int taken = DecodeVariable(data, length, pos, false, *text);
    if (taken < 0) {
        text->clear();
        return;
    }
    *position = pos + taken;
    SetText(text, textLength, hasText);
    if (text->empty()) *textLength = 0;
}

void MBTelegram::IntToTime(int index) {
    if (index < 0 || index >= RecordCount()) return;
    MBDataRecord& rec = records[static_cast<std::size_t>(index)];
    if (rec.value == 0) return;
    std::string& t = rec.valueText;
    t.clear();
    rec.hasValueText = true;
    unsigned date;
    unsigned time = 0;
    unsigned seconds = 0;
    const bool typeF = rec.dataField == 4;
    // Type I (6 bytes): seconds, minutes, hours and the date word of type G,
    // with the summer-time bit in the minute byte.
    const bool typeI = rec.dataField == 6;
    if (typeF) {
        date = static_cast<unsigned>((rec.value >> 16) & 0xFFFF);
        time = static_cast<unsigned>(rec.value & 0xFFFF);
    } else if (typeI) {
        seconds = static_cast<unsigned>(rec.value & 0x3F);
        time = static_cast<unsigned>((rec.value >> 16) & 0x1F) << 8 | static_cast<unsigned>((rec.value >> 8) & 0x3F);
        date = static_cast<unsigned>((rec.value >> 24) & 0xFFFF);
    } else if (rec.dataField == 2) {
        date = static_cast<unsigned>(rec.value & 0xFFFF);
    } else {
        rec.valueTextLength = 0;
        return;
    }
    if ((typeF && (rec.value & 0x8000)) || (typeI && (rec.value & 0x4000))) t += 'S';
    const unsigned day = date & 0x1F;
    const unsigned month = (date >> 8) & 0x0F;
    const unsigned year = ((date >> 12) & 0x0F) * 8 + ((date >> 5) & 0x07);
    if (day == 0) t += "--."; else { Append2(t, static_cast<int>(day)); t += '.'; }
    if (month == 15) t += "--."; else { Append2(t, static_cast<int>(month)); t += '.'; }
    if (year >= 100) {
        t += "---- ";
    } else {
        t += FullYear(static_cast<int>(year)) < 2000 ? "19" : "20";
        Append2(t, static_cast<int>(year));
        t += ' ';
    }
    if (typeF || typeI) {
        Append2(t, static_cast<int>((time >> 8) & 0x1F));
        t += ':';
        Append2(t, static_cast<int>(time & 0x3F));
    }
    if (typeI) {
        t += ':';
        Append2(t, static_cast<int>(seconds));
    }
    rec.valueTextLength = static_cast<int32_t>(t.size());
}
