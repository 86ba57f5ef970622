#include "control/link/radio.h"

#include <algorithm>
#include <cstring>

#include "control/line/layer1.h"
#include "control/link/des.h"

namespace mbus::link {
namespace {

constexpr int kBufferSize = line::kBufferSize;

// Offsets in a long frame (68h at offset 0).
constexpr int kOffL1 = 1;
constexpr int kOffL2 = 2;
constexpr int kOffC = 4;
constexpr int kOffId = 7;
constexpr int kOffManufacturer = 11;
constexpr int kOffVersion = 13;
constexpr int kOffAccess = 15;
constexpr int kOffSignature = 17;
constexpr int kOffData = 19;

// The DES radio telegram: 54 bytes with L = 30h, the marker at 19 and the
// 32-byte block at 20..51.
constexpr int kDESCount = 54;
constexpr uint8_t kDESLength = 0x30;
constexpr int kDESBlock = 20;
constexpr int kDESBlockBytes = 32;
constexpr int kDESMarkerTo = 49;

// KAVOS: the encrypted bytes of the standard form begin after the
// fabrication-number record (0Ch 78h and four BCD bytes).
constexpr int kKAVOSStandardData = 25;
constexpr uint8_t kKAVOSSignatureFlag = 0x10;
constexpr uint8_t kKAVOSW3Head = 0x7A;

// The template form: records at fixed offsets, the text, the 32-bit seed
// field, the type byte and the encrypted bytes up to the checksum.
struct FixedBytes {
    int offset;
    std::string_view bytes;
};
constexpr FixedBytes kTemplateLayout[] = {
    {25, "\x03\xFD\x2C"},
    {31, "\x42\xFD\x62"},
    {36, "\x02\xFD\x24"},
    {41, "\x01\xFD\x6F"},
    {45, "\x02\xFD\x17"},
    {50, "\x0F" "KAVOS100"},
};
constexpr int kTemplateSeedField = 59;
constexpr int kTemplateType = 63;
constexpr int kTemplateData = 64;
constexpr uint8_t kTemplateTypeFirst = 0xA1;
constexpr uint8_t kTemplateTypeLast = 0xA6;
// Manufacturer, version and medium of the meters whose identification
// number enters the template seed as a number rather than as raw bytes.
constexpr uint8_t kTemplateBCDDevice[4] = {0x30, 0x4C, 0x80, 0x07};

uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint8_t SumOf(const uint8_t* p, int n) {
    unsigned sum = 0;
    for (int i = 0; i < n; ++i) sum += p[i];
    return static_cast<uint8_t>(sum);
}

// A complete long frame of `count` bytes: 68h L L 68h, C, A, CI, data,
// checksum, 16h, with count = L + 6 and the checksum right. Only bytes
// below `count` are read.
bool IsLongFrame(const uint8_t* b, int count) {
    if (b == nullptr || count < 9 || count > kBufferSize) return false;
    if (b[0] != 0x68 || b[3] != 0x68 || b[kOffL1] != b[kOffL2]) return false;
    if (b[kOffL1] + 6 != count) return false;
    if (b[count - 1] != 0x16) return false;
    return SumOf(b + kOffC, count - 6) == b[count - 2];
}

// Writes the checksum over C up to the last data byte, and the stop byte,
// for a frame of `count` bytes.
void CloseFrame(uint8_t* b, int count) {
    b[count - 2] = SumOf(b + kOffC, count - 6);
    b[count - 1] = 0x16;
}

// The keyless descrambling of the 32-byte block (see RadioKeys).
void Descramble(uint8_t* block, const RadioKeys& keys) {
    auto word = [&](int i) { return static_cast<uint16_t>(block[2 * i] | (block[2 * i + 1] << 8)); };
    auto put = [&](int i, uint16_t w) {
        block[2 * i] = static_cast<uint8_t>(w);
        block[2 * i + 1] = static_cast<uint8_t>(w >> 8);
    };
    uint16_t r = static_cast<uint16_t>(word(0) ^ keys.scrambleSeedMask);
    put(0, static_cast<uint16_t>(word(0) ^ keys.scrambleFirstWordMask));
    for (int i = 1; i < kDESBlockBytes / 2; ++i) {
        r = static_cast<uint16_t>(r * keys.scrambleMultiplier + keys.scrambleIncrement);
        put(i, static_cast<uint16_t>(word(i) ^ r));
    }
}

// The KAVOS key stream: a 32-bit shift register whose feedback is the XOR
// of bits 1, 2, 11 and 31; each step shifts left and puts the feedback in
// at bit 0. Eight feedback bits make a key byte, the first one its most
// significant bit.
class KAVOSStream {
public:
    explicit KAVOSStream(uint32_t seed) : reg_(seed) {}
    uint8_t Next() {
        unsigned byte = 0;
        for (int step = 0; step < 8; ++step) {
            const uint32_t bit = ((reg_ >> 1) ^ (reg_ >> 2) ^ (reg_ >> 11) ^ (reg_ >> 31)) & 1u;
            reg_ = (reg_ << 1) | bit;
            byte = (byte << 1) | bit;
        }
        return static_cast<uint8_t>(byte);
    }
    void Apply(uint8_t* p, int n) {
        for (int i = 0; i < n; ++i) p[i] ^= Next();
    }

private:
    uint32_t reg_;
};

// The key for the KAVOS option: user digits over the built-in key for
// option 2, else the built-in key; its two big-endian halves XORed.
uint32_t KAVOSKeyWord(const RadioKeys& keys) {
    const RadioKey key = keys.kavosOption == kKAVOSUserKey ? KAVOSUserKeyOverBuiltIn(keys) : keys.kavosBuiltInKey;
    return BigEndian32(key.data()) ^ BigEndian32(key.data() + 4);
}

bool MatchesTemplate(const uint8_t* b, int count) {
    // The layout needs the type byte and at least one encrypted byte before
    // the checksum.
    if (count - 3 < kTemplateData) return false;
    for (const FixedBytes& f : kTemplateLayout)
        if (std::memcmp(b + f.offset, f.bytes.data(), f.bytes.size()) != 0) return false;
    return b[kTemplateType] >= kTemplateTypeFirst && b[kTemplateType] <= kTemplateTypeLast;
}

// The identification number for the template seed: the eight BCD digits
// as a number for the meters of kTemplateBCDDevice, else the four bytes as
// they are (big-endian, as W1 of the standard form).
uint32_t TemplateIdentification(const uint8_t* b) {
    if (std::memcmp(b + kOffManufacturer, kTemplateBCDDevice, sizeof kTemplateBCDDevice) != 0)
        return BigEndian32(b + kOffId);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        const uint8_t bcd = b[kOffId + i];
        value = value * 100 + (bcd >> 4) * 10 + (bcd & 0x0F);
    }
    return value;
}

// Template form: the bytes from the type byte's successor up to the last
// data byte are decrypted in place and the checksum is rewritten; the
// frame keeps its length. The records in front of them stay, and the 0Fh
// record before the text makes the rest manufacturer-specific data, so the
// decoder shows the plain bytes there.
void DecryptTemplate(uint8_t* b, int count, const RadioKeys& keys) {
    const uint32_t seed = TemplateIdentification(b) ^ KAVOSKeyWord(keys) ^ BigEndian32(b + kTemplateSeedField);
    KAVOSStream stream(seed);
    stream.Apply(b + kTemplateData, count - 2 - kTemplateData);
    CloseFrame(b, count);
}

// Standard form (see the header).
void DecryptStandard(uint8_t* b, int count, const RadioKeys& keys) {
    const int n = b[kOffSignature];
    const uint8_t signature = b[kOffSignature + 1];
    if (n == 0 || (signature & kKAVOSSignatureFlag) == 0) return;
    if (kKAVOSStandardData + n > count - 2) return;  // beyond the last data byte

    const uint32_t w1 = BigEndian32(b + kOffId);
    const uint32_t w2 = BigEndian32(b + kOffManufacturer);
    const uint32_t w3 = (static_cast<uint32_t>(kKAVOSW3Head) << 24) | (b[kOffAccess] << 16) |
                        (b[kOffAccess + 1] << 8) | b[kOffSignature];

    uint8_t plainA[255], plainB[255];
    std::memcpy(plainA, b + kKAVOSStandardData, n);
    std::memcpy(plainB, b + kKAVOSStandardData, n);
    KAVOSStream(w3 ^ KAVOSKeyWord(keys) ^ w1 ^ w2).Apply(plainA, n);
    KAVOSStream(w1 ^ w2 ^ w3 ^ keys.kavosSeedConstant).Apply(plainB, n);
    auto matches = [&](const uint8_t* plain) {
        return static_cast<uint8_t>(SumOf(plain, n) | kKAVOSSignatureFlag) == signature;
    };

    const uint8_t* chosen = nullptr;
    if (matches(plainA))
        chosen = plainA;
    else if (keys.kavosOption != kKAVOSUserKey && matches(plainB))
        chosen = plainB;
    if (chosen == nullptr) return;
    std::memcpy(b + kKAVOSStandardData, chosen, n);
    CloseFrame(b, count);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Up to 16 digits into the nibbles of `key` from the front; false (and
// `key` unchanged) for any character that is not a hexadecimal digit.
bool ParseHexKey(std::string_view hex, RadioKey& key) {
    if (hex.size() > 16) return false;
    RadioKey out{};
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const int d = HexDigit(hex[i]);
        if (d < 0) return false;
        out[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? d << 4 : d);
    }
    key = out;
    return true;
}

std::string HexDigits(const RadioKey& key, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < digits; ++i) s += kDigits[(i % 2 == 0 ? key[i / 2] >> 4 : key[i / 2]) & 0x0F];
    return s;
}

}  // namespace

bool HasDESKey(const RadioKeys& keys) {
    return std::any_of(keys.desKey.begin(), keys.desKey.end(), [](uint8_t v) { return v != 0xFF; });
}

RadioKey KAVOSUserKeyOverBuiltIn(const RadioKeys& keys) {
    RadioKey key = keys.kavosBuiltInKey;
    const int digits = std::clamp(keys.kavosUserDigits, 0, 16);
    for (int i = 0; i < digits; ++i) {
        const uint8_t mask = i % 2 == 0 ? 0xF0 : 0x0F;
        key[i / 2] = static_cast<uint8_t>((key[i / 2] & ~mask) | (keys.kavosUserKey[i / 2] & mask));
    }
    return key;
}

bool SetDESKeyHex(RadioKeys& keys, std::string_view hex) {
    if (hex.size() != 16) return false;
    return ParseHexKey(hex, keys.desKey);
}

std::string GetDESKeyHex(const RadioKeys& keys) { return HexDigits(keys.desKey, 16); }

bool SetKAVOSUserKeyHex(RadioKeys& keys, std::string_view hex) {
    if (!ParseHexKey(hex, keys.kavosUserKey)) return false;
    keys.kavosUserDigits = static_cast<int>(hex.size());
    return true;
}

std::string GetKAVOSUserKeyHex(const RadioKeys& keys) {
    return HexDigits(keys.kavosUserKey, std::clamp(keys.kavosUserDigits, 0, 16));
}

RadioKeys& GlobalRadioKeys() {
    static RadioKeys keys;
    return keys;
}

std::mutex& GlobalRadioKeysMutex() {
    static std::mutex mutex;
    return mutex;
}

RadioKeys GetRadioKeys() {
    std::lock_guard lock(GlobalRadioKeysMutex());
    return GlobalRadioKeys();
}

void SetRadioKeys(const RadioKeys& keys) {
    std::lock_guard lock(GlobalRadioKeysMutex());
    GlobalRadioKeys() = keys;
}

void UpdateRadioKeys(const std::function<void(RadioKeys&)>& change) {
    if (!change) return;
    std::lock_guard lock(GlobalRadioKeysMutex());
    change(GlobalRadioKeys());
}

bool SetDESKeyHex(std::string_view hex) {
    std::lock_guard lock(GlobalRadioKeysMutex());
    return SetDESKeyHex(GlobalRadioKeys(), hex);
}

std::string GetDESKeyHex() {
    std::lock_guard lock(GlobalRadioKeysMutex());
    return GetDESKeyHex(GlobalRadioKeys());
}

bool SetKAVOSUserKeyHex(std::string_view hex) {
    std::lock_guard lock(GlobalRadioKeysMutex());
    return SetKAVOSUserKeyHex(GlobalRadioKeys(), hex);
}

std::string GetKAVOSUserKeyHex() {
    std::lock_guard lock(GlobalRadioKeysMutex());
    return GetKAVOSUserKeyHex(GlobalRadioKeys());
}

void DESCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count, const RadioKeys& keys) {
    if (buffer == nullptr || count == nullptr || !HasDESKey(keys)) return;
    if (*count != kDESCount || !IsLongFrame(buffer, *count) || buffer[kOffL1] != kDESLength) return;
    const uint8_t marker = buffer[kOffData];
    if ((marker & 0x0F) != 0x0F) return;
    if (std::all_of(buffer + kDESBlock, buffer + kDESBlock + 8, [](uint8_t v) { return v == 0; })) return;

    uint8_t block[kDESBlockBytes];
    std::memcpy(block, buffer + kDESBlock, kDESBlockBytes);
    const uint8_t version = buffer[kOffVersion];
    if (version == 0x41 || version == 0x54 || version == 0x91) {
        static constexpr uint8_t kZeroIV[kDESBlockSize] = {};
        DESDecryptCBC(keys.desKey.data(), kZeroIV, block, kDESBlockBytes);
    } else {
        Descramble(block, keys);
    }

    // The plain block from offset 19 on, the marker at 49, one byte less.
    std::memcpy(buffer + kOffData, block, kDESBlockBytes);
    buffer[kDESMarkerTo] = marker;
    *count = kDESCount - 1;
    --buffer[kOffL1];
    --buffer[kOffL2];
    CloseFrame(buffer, *count);
}

void KAVOSCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count, const RadioKeys& keys) {
    if (buffer == nullptr || count == nullptr || keys.kavosOption == kKAVOSOff) return;
    const int n = *count;
    // The record 0Ch 78h and its four bytes lie in the data.
    if (!IsLongFrame(buffer, n) || n - 2 < kKAVOSStandardData) return;
    if (buffer[kOffData] != 0x0C || buffer[kOffData + 1] != 0x78) return;
    if (MatchesTemplate(buffer, n))
        DecryptTemplate(buffer, n, keys);
    else
        DecryptStandard(buffer, n, keys);
}

void DESCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count) {
    DESCheckAndDecryptRadioTelegram(buffer, count, GetRadioKeys());
}

void KAVOSCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count) {
    KAVOSCheckAndDecryptRadioTelegram(buffer, count, GetRadioKeys());
}

}  // namespace mbus::link
