// DES, the FIPS 46 block cipher, with ECB and CBC over whole buffers.
//
// Radio receivers pass on telegrams whose meter data are DES encrypted in
// CBC mode, and the host can run the same cipher on its own data through
// the control's properties, so both directions are here. Keys are 8 bytes
// with the parity bits (the lowest bit of each byte) ignored; blocks and
// the initialisation vector are 8 bytes, the first byte most significant.

#pragma once

#include <cstddef>
#include <cstdint>

namespace mbus::link {

inline constexpr std::size_t kDESBlockSize = 8;

// One DES key with its sixteen round keys.
class DES {
public:
    // `key` points to 8 bytes.
    explicit DES(const uint8_t* key);

    // One 8-byte block; `in` and `out` may be the same.
    void EncryptBlock(const uint8_t* in, uint8_t* out) const;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const;

    // The 64-bit block as a number, first byte most significant.
    uint64_t Encrypt(uint64_t block) const;
    uint64_t Decrypt(uint64_t block) const;

private:
    uint64_t Crypt(uint64_t block, bool decrypt) const;
    uint64_t roundKeys_[16];  // 48 bits each, in the low bits
};

// In-place ECB and CBC over `n` bytes. `n` must be a multiple of 8; for any
// other length (or a null pointer with n > 0) nothing changes and the
// result is false, as for a null key or initialisation vector. `key` and
// `iv` point to 8 bytes each.
bool DESEncryptECB(const uint8_t* key, uint8_t* data, std::size_t n);
bool DESDecryptECB(const uint8_t* key, uint8_t* data, std::size_t n);
bool DESEncryptCBC(const uint8_t* key, const uint8_t* iv, uint8_t* data, std::size_t n);
bool DESDecryptCBC(const uint8_t* key, const uint8_t* iv, uint8_t* data, std::size_t n);

}  // namespace mbus::link
