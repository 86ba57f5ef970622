// DES against published known answers, and the ECB and CBC buffer modes.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "control/link/des.h"

namespace mbus::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

std::string ToHex(const uint8_t* p, std::size_t n) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 0x0F];
    }
    return s;
}

struct KnownAnswer {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Single-block known answers: the classic worked example; the weak-key
// example whose cipher text is zero; the NIST variable-plaintext test (key
// 0101010101010101, one plain bit set) and variable-key test (plain text
// zero, one key bit set), their first and further entries; and the ECB
// example of FIPS 81 ("Now is the time for all ").
const KnownAnswer kKnownAnswers[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0101010101010101", "0000000000000000", "8CA64DE9C1B123A7"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
    {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
    {"0101010101010101", "0400000000000000", "55579380D77138EF"},
    {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
    {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
    {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
    {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
    {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
};

TEST(DES, KnownAnswersEncryptAndDecrypt) {
    for (const KnownAnswer& v : kKnownAnswers) {
        SCOPED_TRACE(std::string(v.key) + " " + v.plain);
        const Bytes key = FromHex(v.key);
        const Bytes plain = FromHex(v.plain);
        const link::DES des(key.data());
        uint8_t out[8];
        des.EncryptBlock(plain.data(), out);
        EXPECT_EQ(ToHex(out, 8), v.cipher);
        des.DecryptBlock(out, out);  // in place
        EXPECT_EQ(ToHex(out, 8), v.plain);
    }
}

TEST(DES, NumericBlockInterface) {
    const Bytes key = FromHex("133457799BBCDFF1");
    const link::DES des(key.data());
    EXPECT_EQ(des.Encrypt(0x0123456789ABCDEFull), 0x85E813540F0AB405ull);
    EXPECT_EQ(des.Decrypt(0x85E813540F0AB405ull), 0x0123456789ABCDEFull);
}

TEST(DES, ParityBitsOfTheKeyAreIgnored) {
    Bytes key = FromHex("133457799BBCDFF1");
    for (auto& b : key) b ^= 0x01;
    const link::DES des(key.data());
    EXPECT_EQ(des.Encrypt(0x0123456789ABCDEFull), 0x85E813540F0AB405ull);
}

TEST(DES, ComplementationProperty) {
    // E(~k, ~p) = ~E(k, p) for every key and block.
    std::mt19937_64 rng(46);
    for (int i = 0; i < 50; ++i) {
        const uint64_t k = rng(), p = rng();
        uint8_t key[8], notKey[8];
        for (int j = 0; j < 8; ++j) {
            key[j] = static_cast<uint8_t>(k >> (56 - 8 * j));
            notKey[j] = static_cast<uint8_t>(~key[j]);
        }
        EXPECT_EQ(link::DES(notKey).Encrypt(~p), ~link::DES(key).Encrypt(p));
    }
}

TEST(DES, WeakKeyEncryptsTwiceToTheStart) {
    const Bytes weak = FromHex("0101010101010101");
    const link::DES des(weak.data());
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20; ++i) {
        const uint64_t p = rng();
        EXPECT_EQ(des.Encrypt(des.Encrypt(p)), p);
    }
}

TEST(DES, ECBBuffer) {
    const Bytes key = FromHex("0123456789ABCDEF");
    Bytes data(24);
    std::memcpy(data.data(), "Now is the time for all ", 24);
    ASSERT_TRUE(link::DESEncryptECB(key.data(), data.data(), data.size()));
    EXPECT_EQ(ToHex(data.data(), data.size()), "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53");
    ASSERT_TRUE(link::DESDecryptECB(key.data(), data.data(), data.size()));
    EXPECT_EQ(std::string(data.begin(), data.end()), "Now is the time for all ");
}

TEST(DES, CBCBufferOfFIPS81) {
    const Bytes key = FromHex("0123456789ABCDEF");
    const Bytes iv = FromHex("1234567890ABCDEF");
    Bytes data(24);
    std::memcpy(data.data(), "Now is the time for all ", 24);
    ASSERT_TRUE(link::DESEncryptCBC(key.data(), iv.data(), data.data(), data.size()));
    EXPECT_EQ(ToHex(data.data(), data.size()), "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6");
    ASSERT_TRUE(link::DESDecryptCBC(key.data(), iv.data(), data.data(), data.size()));
    EXPECT_EQ(std::string(data.begin(), data.end()), "Now is the time for all ");
}

TEST(DES, CBCWithZeroVectorStartsLikeECB) {
    const Bytes key = FromHex("0123456789ABCDEF");
    const uint8_t zero[8] = {};
    Bytes a = FromHex("4E6F772069732074");
    Bytes b = a;
    link::DESEncryptCBC(key.data(), zero, a.data(), a.size());
    link::DESEncryptECB(key.data(), b.data(), b.size());
    EXPECT_EQ(a, b);
}

TEST(DES, RoundTripsOverRandomBuffers) {
    std::mt19937 rng(81);
    for (int i = 0; i < 40; ++i) {
        uint8_t key[8], iv[8];
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        for (auto& b : iv) b = static_cast<uint8_t>(rng());
        Bytes plain(8 * (rng() % 10));
        for (auto& b : plain) b = static_cast<uint8_t>(rng());
        Bytes d = plain;
        ASSERT_TRUE(link::DESEncryptCBC(key, iv, d.data(), d.size()));
        if (!plain.empty()) {
            EXPECT_NE(d, plain);
        }
        ASSERT_TRUE(link::DESDecryptCBC(key, iv, d.data(), d.size()));
        EXPECT_EQ(d, plain);
        ASSERT_TRUE(link::DESEncryptECB(key, d.data(), d.size()));
        ASSERT_TRUE(link::DESDecryptECB(key, d.data(), d.size()));
        EXPECT_EQ(d, plain);
    }
}

TEST(DES, LengthsThatAreNoMultipleOfEightChangeNothing) {
    const Bytes key = FromHex("0123456789ABCDEF");
    const uint8_t iv[8] = {};
    for (std::size_t n : {1u, 7u, 9u, 15u, 17u}) {
        Bytes d(n, 0x55);
        const Bytes before = d;
        EXPECT_FALSE(link::DESEncryptECB(key.data(), d.data(), n));
        EXPECT_FALSE(link::DESDecryptECB(key.data(), d.data(), n));
        EXPECT_FALSE(link::DESEncryptCBC(key.data(), iv, d.data(), n));
        EXPECT_FALSE(link::DESDecryptCBC(key.data(), iv, d.data(), n));
        EXPECT_EQ(d, before);
    }
    EXPECT_TRUE(link::DESEncryptECB(key.data(), nullptr, 0));
    EXPECT_FALSE(link::DESEncryptECB(key.data(), nullptr, 8));
    EXPECT_FALSE(link::DESEncryptECB(nullptr, nullptr, 0));
    uint8_t block[8] = {};
    EXPECT_FALSE(link::DESDecryptCBC(key.data(), nullptr, block, 8));
}

}  // namespace
}  // namespace mbus::test
