#include "control/link/des.h"

#include <array>

namespace mbus::link {
namespace {

// The tables of FIPS 46. Each entry names an input bit, counted from 1 at
// the most significant bit of the input.

constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25,
};

// Expansion of the 32-bit half block to 48 bits.
constexpr uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1,
};

// Permutation of the S-box outputs.
constexpr uint8_t kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// Permuted choice 1: the 56 key bits without the parity bits, as C and D.
constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

// Permuted choice 2: 48 of the 56 bits of C and D form a round key.
constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Left rotations of C and D before each round.
constexpr uint8_t kRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// The eight S-boxes: row from the outer bits, column from the inner four.
constexpr uint8_t kSBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// Every S-box row is a permutation of 0..15; this catches a mistyped entry.
constexpr bool SBoxRowsArePermutations() {
    for (const auto& box : kSBoxes)
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) seen |= 1u << v;
            if (seen != 0xFFFFu) return false;
        }
    return true;
}
static_assert(SBoxRowsArePermutations());

// The final permutation undoes the initial one.
constexpr bool FinalUndoesInitial() {
    for (int i = 0; i < 64; ++i)
        if (kInitialPermutation[kFinalPermutation[i] - 1] != i + 1) return false;
    return true;
}
static_assert(FinalUndoesInitial());

// Output bit i (from the most significant of `outBits`) is input bit
// table[i] (from the most significant of `inBits`).
constexpr uint64_t Permute(uint64_t in, int inBits, const uint8_t* table, int outBits) {
    uint64_t out = 0;
    for (int i = 0; i < outBits; ++i) out = (out << 1) | ((in >> (inBits - table[i])) & 1u);
    return out;
}

// S-boxes followed by the round permutation, one table per S-box and 6-bit
// input, so that a round is eight look-ups.
using SPTable = std::array<std::array<uint32_t, 64>, 8>;

constexpr SPTable MakeSPTable() {
    SPTable t{};
    for (int box = 0; box < 8; ++box)
        for (int in = 0; in < 64; ++in) {
            const int row = ((in >> 4) & 2) | (in & 1);
            const int col = (in >> 1) & 0xF;
            const uint64_t s = static_cast<uint64_t>(kSBoxes[box][row][col]) << (28 - 4 * box);
            t[box][in] = static_cast<uint32_t>(Permute(s, 32, kRoundPermutation, 32));
        }
    return t;
}
constexpr SPTable kSP = MakeSPTable();

uint32_t Feistel(uint32_t half, uint64_t roundKey) {
    const uint64_t x = Permute(half, 32, kExpansion, 48) ^ roundKey;
    uint32_t out = 0;
    for (int box = 0; box < 8; ++box) out |= kSP[box][(x >> (42 - 6 * box)) & 0x3F];
    return out;
}

uint64_t Load(const uint8_t* p) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < kDESBlockSize; ++i) v = (v << 8) | p[i];
    return v;
}

void Store(uint64_t v, uint8_t* p) {
    for (std::size_t i = kDESBlockSize; i-- > 0;) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// The length and pointer conditions of the buffer functions.
bool BufferFits(const uint8_t* key, const uint8_t* data, std::size_t n) {
    return key != nullptr && n % kDESBlockSize == 0 && (n == 0 || data != nullptr);
}

}  // namespace

DES::DES(const uint8_t* key) {
    const uint64_t cd = Permute(Load(key), 64, kPermutedChoice1, 56);
    uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
    uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
    for (int round = 0; round < 16; ++round) {
        const int r = kRotations[round];
        c = ((c << r) | (c >> (28 - r))) & 0x0FFFFFFF;
        d = ((d << r) | (d >> (28 - r))) & 0x0FFFFFFF;
        roundKeys_[round] = Permute((static_cast<uint64_t>(c) << 28) | d, 56, kPermutedChoice2, 48);
    }
}

uint64_t DES::Crypt(uint64_t block, bool decrypt) const {
    const uint64_t ip = Permute(block, 64, kInitialPermutation, 64);
    uint32_t left = static_cast<uint32_t>(ip >> 32);
    uint32_t right = static_cast<uint32_t>(ip);
    for (int round = 0; round < 16; ++round) {
        const uint32_t next = left ^ Feistel(right, roundKeys_[decrypt ? 15 - round : round]);
        left = right;
        right = next;
    }
    // The halves are swapped once more after the last round.
    return Permute((static_cast<uint64_t>(right) << 32) | left, 64, kFinalPermutation, 64);
}

uint64_t DES::Encrypt(uint64_t block) const { return Crypt(block, false); }
uint64_t DES::Decrypt(uint64_t block) const { return Crypt(block, true); }

void DES::EncryptBlock(const uint8_t* in, uint8_t* out) const { Store(Encrypt(Load(in)), out); }
void DES::DecryptBlock(const uint8_t* in, uint8_t* out) const { Store(Decrypt(Load(in)), out); }

bool DESEncryptECB(const uint8_t* key, uint8_t* data, std::size_t n) {
    if (!BufferFits(key, data, n)) return false;
    const DES des(key);
    for (std::size_t i = 0; i < n; i += kDESBlockSize) des.EncryptBlock(data + i, data + i);
    return true;
}

bool DESDecryptECB(const uint8_t* key, uint8_t* data, std::size_t n) {
    if (!BufferFits(key, data, n)) return false;
    const DES des(key);
    for (std::size_t i = 0; i < n; i += kDESBlockSize) des.DecryptBlock(data + i, data + i);
    return true;
}

bool DESEncryptCBC(const uint8_t* key, const uint8_t* iv, uint8_t* data, std::size_t n) {
    if (!BufferFits(key, data, n) || iv == nullptr) return false;
    const DES des(key);
    uint64_t chain = Load(iv);
    for (std::size_t i = 0; i < n; i += kDESBlockSize) {
        chain = des.Encrypt(Load(data + i) ^ chain);
        Store(chain, data + i);
    }
    return true;
}

bool DESDecryptCBC(const uint8_t* key, const uint8_t* iv, uint8_t* data, std::size_t n) {
    if (!BufferFits(key, data, n) || iv == nullptr) return false;
    const DES des(key);
    uint64_t chain = Load(iv);
    for (std::size_t i = 0; i < n; i += kDESBlockSize) {
        const uint64_t cipher = Load(data + i);
        Store(des.Decrypt(cipher) ^ chain, data + i);
        chain = cipher;
    }
    return true;
}

}  // namespace mbus::link
