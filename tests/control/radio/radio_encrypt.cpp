#include "tests/control/radio/radio_encrypt.h"

#include <cassert>

#include "control/link/des.h"

namespace mbus::test {
namespace {

uint32_t BE32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

Bytes HeaderBytes(const RadioHeader& h) {
    return {h.C,
            h.A,
            h.CI,
            h.id[0],
            h.id[1],
            h.id[2],
            h.id[3],
            h.manufacturer[0],
            h.manufacturer[1],
            h.version,
            h.medium,
            h.access,
            h.status,
            h.signature[0],
            h.signature[1]};
}

uint32_t KeyWord(const link::RadioKey& key) { return BE32(key.data()) ^ BE32(key.data() + 4); }

}  // namespace

uint8_t ByteSum(const Bytes& b, std::size_t from, std::size_t to) {
    uint8_t s = 0;
    for (std::size_t i = from; i < to; ++i) s = static_cast<uint8_t>(s + b[i]);
    return s;
}

Bytes LongFrame(const RadioHeader& h, const Bytes& data) {
    Bytes body = HeaderBytes(h);
    body.insert(body.end(), data.begin(), data.end());
    assert(body.size() <= 255);
    const auto L = static_cast<uint8_t>(body.size());
    Bytes f{0x68, L, L, 0x68};
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(ByteSum(body, 0, body.size()));
    f.push_back(0x16);
    return f;
}

void FixChecksum(Bytes& frame) { frame[frame.size() - 2] = ByteSum(frame, 4, frame.size() - 2); }

Bytes KAVOSKeyStream(uint32_t seed, std::size_t n) {
    Bytes out;
    uint32_t r = seed;
    for (std::size_t i = 0; i < n; ++i) {
        uint8_t k = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const bool b1 = (r & 0x00000002u) != 0;
            const bool b2 = (r & 0x00000004u) != 0;
            const bool b11 = (r & 0x00000800u) != 0;
            const bool b31 = (r & 0x80000000u) != 0;
            const uint32_t fb = (b1 != b2) != (b11 != b31) ? 1u : 0u;
            r = (r << 1) | fb;
            k = static_cast<uint8_t>((k << 1) | fb);
        }
        out.push_back(k);
    }
    return out;
}

Bytes Scramble(const Bytes& plain, const link::RadioKeys& keys) {
    Bytes c = plain;
    const auto w0 = static_cast<uint16_t>((plain[0] | plain[1] << 8) ^ keys.scrambleFirstWordMask);
    c[0] = static_cast<uint8_t>(w0);
    c[1] = static_cast<uint8_t>(w0 >> 8);
    uint16_t r = static_cast<uint16_t>(w0 ^ keys.scrambleSeedMask);
    for (std::size_t i = 2; i < 32; i += 2) {
        r = static_cast<uint16_t>(r * keys.scrambleMultiplier + keys.scrambleIncrement);
        c[i] ^= static_cast<uint8_t>(r);
        c[i + 1] ^= static_cast<uint8_t>(r >> 8);
    }
    return c;
}

Bytes EncryptDESRadioTelegram(const RadioHeader& h, uint8_t marker, const Bytes& plain,
                              const link::RadioKeys& keys) {
    assert(plain.size() == 32);
    Bytes cipher;
    if (h.version == 0x41 || h.version == 0x54 || h.version == 0x91) {
        cipher = plain;
        const uint8_t iv[8] = {};
        link::DESEncryptCBC(keys.desKey.data(), iv, cipher.data(), cipher.size());
    } else {
        cipher = Scramble(plain, keys);
    }
    Bytes data{marker};
    data.insert(data.end(), cipher.begin(), cipher.end());
    return LongFrame(h, data);
}

Bytes ExpectedDESRadioTelegram(const RadioHeader& h, uint8_t marker, const Bytes& plain) {
    Bytes data = plain;
    data[30] = marker;
    return LongFrame(h, data);
}

Bytes KAVOSStandardPlainFrame(RadioHeader h, const KAVOSPlain& p) {
    h.signature[0] = static_cast<uint8_t>(p.plain.size());
    h.signature[1] = static_cast<uint8_t>(ByteSum(p.plain, 0, p.plain.size()) | 0x10);
    Bytes data{0x0C, 0x78, p.fab[0], p.fab[1], p.fab[2], p.fab[3]};
    data.insert(data.end(), p.plain.begin(), p.plain.end());
    data.insert(data.end(), p.tail.begin(), p.tail.end());
    return LongFrame(h, data);
}

Bytes EncryptKAVOSStandard(RadioHeader h, const KAVOSPlain& p, const link::RadioKey& key, bool streamB,
                           uint32_t seedConstant) {
    Bytes f = KAVOSStandardPlainFrame(h, p);
    const uint32_t w1 = BE32(&f[7]);
    const uint32_t w2 = BE32(&f[11]);
    const uint8_t w3bytes[4] = {0x7A, f[15], f[16], f[17]};
    const uint32_t w3 = BE32(w3bytes);
    const uint32_t seed = streamB ? (w1 ^ w2 ^ w3 ^ seedConstant) : (w3 ^ KeyWord(key) ^ w1 ^ w2);
    const Bytes ks = KAVOSKeyStream(seed, p.plain.size());
    for (std::size_t i = 0; i < ks.size(); ++i) f[25 + i] ^= ks[i];
    FixChecksum(f);
    return f;
}

Bytes KAVOSTemplatePlainFrame(const RadioHeader& h, const KAVOSTemplate& t) {
    Bytes data{0x0C, 0x78, 0x01, 0x02, 0x03, 0x04,  // 19: fabrication number
               0x03, 0xFD, 0x2C, 0x10, 0x20, 0x30,  // 25
               0x42, 0xFD, 0x62, 0x40, 0x50,        // 31
               0x02, 0xFD, 0x24, 0x60, 0x70,        // 36
               0x01, 0xFD, 0x6F, 0x80,              // 41
               0x02, 0xFD, 0x17, 0x90, 0xA0,        // 45
               0x0F,                                // 50
               'K',  'A',  'V',  'O',  'S',  '1',  '0', '0',
               t.field[0], t.field[1], t.field[2], t.field[3],  // 59
               t.type};                                          // 63
    assert(data.size() == 64 - 19);
    data.insert(data.end(), t.plain.begin(), t.plain.end());
    return LongFrame(h, data);
}

Bytes EncryptKAVOSTemplate(const RadioHeader& h, const KAVOSTemplate& t, const link::RadioKey& key) {
    Bytes f = KAVOSTemplatePlainFrame(h, t);
    uint32_t id;
    if (f[11] == 0x30 && f[12] == 0x4C && f[13] == 0x80 && f[14] == 0x07) {
        id = 0;
        for (int i = 10; i >= 7; --i) id = id * 100 + (f[i] >> 4) * 10 + (f[i] & 0x0F);
    } else {
        id = BE32(&f[7]);
    }
    const Bytes ks = KAVOSKeyStream(id ^ KeyWord(key) ^ BE32(&f[59]), t.plain.size());
    for (std::size_t i = 0; i < ks.size(); ++i) f[64 + i] ^= ks[i];
    FixChecksum(f);
    return f;
}

}  // namespace mbus::test
