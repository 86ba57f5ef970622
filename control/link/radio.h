// Decryption of radio telegrams in the receive buffer.
//
// A radio receiver passes on the long frames of radio meters as they came
// over the air, and some carry their meter data encrypted. After a long
// frame has passed the frame checks, the reception runs two checks on it:
//
// - DESCheckAndDecryptRadioTelegram: a 54-byte frame (L = 30h) whose data
//   begin with a marker byte (low nibble Fh) followed by a 32-byte block.
//   Versions 41h, 54h and 91h encrypt the block with DES in CBC mode under
//   the DES key and an all-zero initialisation vector; every other version
//   scrambles it without a key (see RadioKeys for the sequence). The plain
//   block moves one byte to the front, the marker goes to offset 49, and
//   the frame shrinks by one byte.
// - KAVOSCheckAndDecryptRadioTelegram (only while the KAVOS option is not
//   0): frames whose data begin with the fabrication-number record 0Ch 78h
//   and that carry data encrypted with the stream of a 32-bit shift
//   register (feedback bits 1, 2, 11 and 31; eight steps per key byte).
//   Standard form: the signature byte at 17 gives the number n of
//   encrypted bytes from offset 25, the one at 18 (with bit 4 set) their
//   byte sum with bit 4 set. Register A is seeded with W3 ^ key ^ W1 ^ W2,
//   register B with W1 ^ W2 ^ W3 ^ the seed constant, where W1 and W2 are
//   the bytes 7..10 and 11..14 and W3 is 7Ah and the bytes 15..17, all
//   big-endian, and the key counts as its two big-endian halves. With the
//   user key only the result of A may match the sum, with the built-in key
//   A and then B. The plain bytes replace the encrypted ones and the
//   checksum is rewritten; the frame keeps its length.
//   Template form: the records 0Ch 78h (19), 03h FDh 2Ch (25), 42h FDh 62h
//   (31), 02h FDh 24h (36), 01h FDh 6Fh (41), 02h FDh 17h (45), 0Fh (50)
//   and the text "KAVOS100" (51..58) at these offsets, a 32-bit field at
//   59..62, a type byte A1h..A6h at 63 and encrypted bytes from 64 up to
//   the last data byte (offset L + 3). The register is seeded with the
//   identification number ^ key ^ the field (big-endian); the number is
//   the value of its eight BCD digits when the bytes 11..14 are 30h 4Ch
//   80h 07h, else its four bytes big-endian. The bytes from 64 on are
//   decrypted in place and the checksum is rewritten; L, count and all
//   other bytes stay. Because the 0Fh record makes everything after it
//   manufacturer-specific data, the frame stays a valid telegram and the
//   decoder shows the plain bytes there; they are not turned into
//   standard data records.
//
// Offsets count from the 68h at offset 0: L at 1 and 2, C at 4, A at 5,
// CI at 6, identification number 7..10, manufacturer 11..12, version 13,
// medium 14, access number 15, status 16, signature 17..18, data from 19.
// A frame that is not recognised, or whose check fails, stays exactly as
// it came; no error is reported. Each function is meant to run once on a
// received frame: the stream scheme has no way to tell plain data from
// encrypted data, so a second run would scramble it again.

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace mbus::link {

using RadioKey = std::array<uint8_t, 8>;

// KAVOS option values; every value other than these two selects the
// built-in key.
inline constexpr int32_t kKAVOSOff = 0;
inline constexpr int32_t kKAVOSUserKey = 2;

// The keys and device constants of radio decryption.
//
// The device constants (the built-in KAVOS key, the KAVOS seed constant and
// the constants of the keyless descrambling) belong to the meters and are
// not known to this library. The values below are placeholders, chosen only
// so that the schemes work end to end; a host that knows the constants of
// its meters sets them here.
struct RadioKeys {
    // DES key; eight FFh bytes mean that no key is set.
    RadioKey desKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    // KAVOS option: 0 off, 2 use the user key, anything else the built-in key.
    int32_t kavosOption = kKAVOSOff;
    // KAVOS user key as given: the digits from the front of the 16-digit
    // key, the first digit in the high nibble of byte 0. Only the first
    // `kavosUserDigits` digits (0..16) count; they replace the same digits
    // of the built-in key, and the built-in key's other digits stay.
    RadioKey kavosUserKey{};
    int kavosUserDigits = 0;

    // Placeholder: built-in KAVOS key.
    RadioKey kavosBuiltInKey{0x5A, 0x3C, 0x96, 0x0F, 0xE1, 0x78, 0x2D, 0xB4};
    // Placeholder: the 32-bit constant in the seed of the second register of
    // the standard form (here the fractional part of the golden ratio).
    uint32_t kavosSeedConstant = 0x9E3779B9u;

    // Keyless descrambling of the 32-byte block: 16 words of two bytes,
    // low byte first. The sequence is seeded from the first word as
    // received: r = word0 XOR scrambleSeedMask. The first word itself is
    // XORed with scrambleFirstWordMask; each further word i (1..15) is XORed
    // with the next value r = r * scrambleMultiplier + scrambleIncrement
    // (mod 2^16).
    // Placeholders: the 16-bit generator with multiplier 25173 and
    // increment 13849 (a full-period pair), and two masks of our own.
    uint16_t scrambleMultiplier = 0x6255;
    uint16_t scrambleIncrement = 0x3619;
    uint16_t scrambleSeedMask = 0x0000;
    uint16_t scrambleFirstWordMask = 0xA55A;
};

// True unless the DES key is eight FFh bytes.
bool HasDESKey(const RadioKeys& keys);
// The built-in KAVOS key with its leading digits replaced by the digits of
// the user key that were given.
RadioKey KAVOSUserKeyOverBuiltIn(const RadioKeys& keys);

// Hexadecimal text of the keys. The DES key takes exactly 16 digits; text
// with any other number of digits, or with anything but hexadecimal
// digits, is ignored (false). The KAVOS user key takes 0 to 16 digits and
// remembers how many; longer or non-hexadecimal text is ignored. The
// getters give upper-case digits: all 16 of the DES key, and the digits
// that were given of the KAVOS user key.
bool SetDESKeyHex(RadioKeys& keys, std::string_view hex);
std::string GetDESKeyHex(const RadioKeys& keys);
bool SetKAVOSUserKeyHex(RadioKeys& keys, std::string_view hex);
std::string GetKAVOSUserKeyHex(const RadioKeys& keys);

// The process-wide keys. GlobalRadioKeys() may only be touched while
// holding GlobalRadioKeysMutex(); the other functions take the lock
// themselves. The reception works on a copy taken with GetRadioKeys().
RadioKeys& GlobalRadioKeys();
std::mutex& GlobalRadioKeysMutex();
RadioKeys GetRadioKeys();
void SetRadioKeys(const RadioKeys& keys);
// Changes the process-wide keys under the lock.
void UpdateRadioKeys(const std::function<void(RadioKeys&)>& change);
bool SetDESKeyHex(std::string_view hex);
std::string GetDESKeyHex();
bool SetKAVOSUserKeyHex(std::string_view hex);
std::string GetKAVOSUserKeyHex();

// The checks on a received frame: `buffer` holds `*count` bytes from the
// 68h on and has room for the line's 6144 bytes. A recognised telegram is
// decrypted and rebuilt in place (and `*count` updated); any other stays
// as it is. Null pointers and counts beyond 6144 are ignored.
void DESCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count, const RadioKeys& keys);
void KAVOSCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count, const RadioKeys& keys);
// The same with the process-wide keys.
void DESCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count);
void KAVOSCheckAndDecryptRadioTelegram(uint8_t* buffer, int* count);

}  // namespace mbus::link
