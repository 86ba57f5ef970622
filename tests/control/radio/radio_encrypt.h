// The sending side of the radio schemes, for the tests only: builds plain
// telegrams and encrypts them the way a meter does, so that the tests can
// check that reception gives the plain data back. The key stream and the
// scrambling are written here on their own, from the description of the
// schemes, rather than taken from the library.

#pragma once

#include <cstdint>
#include <vector>

#include "control/link/radio.h"

namespace mbus::test {

using Bytes = std::vector<uint8_t>;

// The header of a radio telegram: offsets 4..18 of the frame.
struct RadioHeader {
    uint8_t C = 0x08, A = 0xFD, CI = 0x72;
    uint8_t id[4] = {0x78, 0x56, 0x34, 0x12};  // BCD, low byte first
    uint8_t manufacturer[2] = {0xFF, 0x7F};  // no valid letters
    uint8_t version = 0x41;
    uint8_t medium = 0x07;
    uint8_t access = 0x5A;
    uint8_t status = 0x00;
    uint8_t signature[2] = {0x00, 0x00};
};

// Sum of the bytes mod 256.
uint8_t ByteSum(const Bytes& b, std::size_t from, std::size_t to);
// A long frame 68h L L 68h, header, data, checksum, 16h.
Bytes LongFrame(const RadioHeader& h, const Bytes& data);
// Rewrites the checksum of a long frame after bytes were changed.
void FixChecksum(Bytes& frame);

// The KAVOS key stream of a 32-bit register seed, `n` bytes.
Bytes KAVOSKeyStream(uint32_t seed, std::size_t n);

// DES radio telegram. `plain` is the 32-byte block that the meter
// encrypts: at reception it lands at offsets 19..50, with byte 30 of it
// replaced by the marker. Versions 41h, 54h and 91h use DES CBC with a zero
// initialisation vector, the others the keyless scrambling.
Bytes EncryptDESRadioTelegram(const RadioHeader& h, uint8_t marker, const Bytes& plain,
                              const link::RadioKeys& keys);
// What reception should make of it: 53 bytes.
Bytes ExpectedDESRadioTelegram(const RadioHeader& h, uint8_t marker, const Bytes& plain);
// The keyless scrambling, the inverse of the reception's descrambling.
Bytes Scramble(const Bytes& plain, const link::RadioKeys& keys);

// KAVOS standard form: data are 0Ch 78h, the fabrication number `fab`,
// `plain` (the n encrypted bytes) and `tail` (plain bytes after them). The
// signature bytes are set from n and the sum of `plain`. With `streamB`
// the second register (the seed constant) encrypts, else the first one
// with `key`.
struct KAVOSPlain {
    uint8_t fab[4] = {0x11, 0x22, 0x33, 0x44};
    Bytes plain;
    Bytes tail;
};
Bytes KAVOSStandardPlainFrame(RadioHeader h, const KAVOSPlain& p);
Bytes EncryptKAVOSStandard(RadioHeader h, const KAVOSPlain& p, const link::RadioKey& key, bool streamB,
                           uint32_t seedConstant);

// KAVOS template form: the fixed records and text, the 32-bit field, the
// type byte and `plain` from offset 64 to the last data byte.
struct KAVOSTemplate {
    uint8_t field[4] = {0xDE, 0xAD, 0x10, 0x01};
    uint8_t type = 0xA1;
    Bytes plain;
};
Bytes KAVOSTemplatePlainFrame(const RadioHeader& h, const KAVOSTemplate& t);
Bytes EncryptKAVOSTemplate(const RadioHeader& h, const KAVOSTemplate& t, const link::RadioKey& key);

}  // namespace mbus::test
