// Radio telegram decryption in the receive buffer: the DES telegram (DES
// CBC and the keyless scrambling), the KAVOS standard and template forms,
// the keys as hexadecimal text, the process-wide keys, and frames that must
// stay as they are.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "control/line/frame_shape.h"
#include "control/link/radio.h"
#include "tests/control/radio/radio_encrypt.h"

namespace mbus::test {
namespace {

using link::RadioKey;
using link::RadioKeys;

constexpr int kRoom = 6144;

Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

// Runs a check the way the reception does: the frame at the front of a
// 6144-byte buffer; gives the frame as it is afterwards.
template <class Check>
Bytes RunIn6144(Check check, const Bytes& frame, const RadioKeys& keys) {
    std::vector<uint8_t> buffer(kRoom, 0xEE);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    int count = static_cast<int>(frame.size());
    check(buffer.data(), &count, keys);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, kRoom);
    // Nothing beyond the frame changed.
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<long>(frame.size()), buffer.end(), [](uint8_t v) { return v == 0xEE; }));
    return Bytes(buffer.begin(), buffer.begin() + count);
}

Bytes DES(const Bytes& frame, const RadioKeys& keys) {
    return RunIn6144([](uint8_t* b, int* n, const RadioKeys& k) { link::DESCheckAndDecryptRadioTelegram(b, n, k); }, frame,
                     keys);
}

Bytes KAVOS(const Bytes& frame, const RadioKeys& keys) {
    return RunIn6144([](uint8_t* b, int* n, const RadioKeys& k) { link::KAVOSCheckAndDecryptRadioTelegram(b, n, k); },
                     frame, keys);
}

bool IsValidLongFrame(const Bytes& f) {
    return ClassifyFrame({f.data(), f.size()}).result == 3;
}

RadioKeys DESKeys(const std::string& hex = "0123456789ABCDEF") {
    RadioKeys k;
    EXPECT_TRUE(link::SetDESKeyHex(k, hex));
    return k;
}

// A 32-byte block of plain records: volume, flow temperature, date and
// time, error flags, fabrication number, return temperature; byte 30 is
// lost to the marker, byte 31 is one byte of manufacturer data.
const Bytes kDESPlain = FromHex("04131027000002593408046D2A0B7B2C01FD17000C7811223344025D10072F00");

// ---- DES radio telegram ---------------------------------------------------

TEST(RadioDES, FixedTelegramEncryptedElsewhere) {
    // The block encrypted with DES CBC, key 0123456789ABCDEF, zero vector,
    // by another DES implementation.
    RadioHeader h;
    Bytes data = FromHex("0F11993FBDC49D653EB713930B98795EDC9EE2E62160A9D65B61605F07134D658B");
    const Bytes frame = LongFrame(h, data);
    ASSERT_EQ(frame.size(), 54u);
    const Bytes out = DES(frame, DESKeys());
    EXPECT_EQ(out, ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));
    EXPECT_EQ(out.size(), 53u);
    EXPECT_EQ(out[1], 0x2F);
    EXPECT_EQ(out[2], 0x2F);
    EXPECT_EQ(out[49], 0x0F);
    EXPECT_TRUE(IsValidLongFrame(out));
}

TEST(RadioDES, CBCVersionsDecrypt) {
    for (uint8_t version : {0x41, 0x54, 0x91}) {
        for (uint8_t marker : {0x0F, 0x1F, 0x2F, 0xFF}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(marker));
            RadioHeader h;
            h.version = version;
            const RadioKeys keys = DESKeys("A1B2C3D4E5F60718");
            const Bytes frame = EncryptDESRadioTelegram(h, marker, kDESPlain, keys);
            const Bytes out = DES(frame, keys);
            EXPECT_EQ(out, ExpectedDESRadioTelegram(h, marker, kDESPlain));
            EXPECT_TRUE(IsValidLongFrame(out));
        }
    }
}

TEST(RadioDES, OtherVersionsUseTheKeylessScrambling) {
    for (uint8_t version : {0x00, 0x01, 0x40, 0x42, 0x55, 0x90, 0xFF}) {
        SCOPED_TRACE(version);
        RadioHeader h;
        h.version = version;
        const RadioKeys keys = DESKeys();
        const Bytes frame = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, keys);
        const Bytes out = DES(frame, keys);
        EXPECT_EQ(out, ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));
    }
}

TEST(RadioDES, KeylessScramblingFollowsItsConstants) {
    RadioKeys keys = DESKeys();
    keys.scrambleMultiplier = 0x4E6D;
    keys.scrambleIncrement = 0x3039;
    keys.scrambleSeedMask = 0x1234;
    keys.scrambleFirstWordMask = 0x0000;
    RadioHeader h;
    h.version = 0x07;
    const Bytes frame = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, keys);
    EXPECT_EQ(DES(frame, keys), ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));
    // With the placeholders the same telegram gives other bytes.
    EXPECT_NE(DES(frame, DESKeys()), ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));
}

TEST(RadioDES, KeylessScramblingByHand) {
    // Multiplier 3, increment 1, seed mask 0, first-word mask FFFFh: the
    // running value starts at the first received word 0002h and goes
    // 0007h, 0016h, 0043h, ...
    RadioKeys keys = DESKeys();
    keys.scrambleMultiplier = 3;
    keys.scrambleIncrement = 1;
    keys.scrambleSeedMask = 0;
    keys.scrambleFirstWordMask = 0xFFFF;
    RadioHeader h;
    h.version = 0x07;
    Bytes data{0x0F, 0x02, 0x00};
    data.resize(33, 0x00);
    const Bytes out = DES(LongFrame(h, data), keys);
    ASSERT_EQ(out.size(), 53u);
    EXPECT_EQ(out[19], 0xFD);
    EXPECT_EQ(out[20], 0xFF);
    EXPECT_EQ(out[21], 0x07);
    EXPECT_EQ(out[22], 0x00);
    EXPECT_EQ(out[23], 0x16);
    EXPECT_EQ(out[24], 0x00);
    EXPECT_EQ(out[25], 0x43);
    EXPECT_EQ(out[26], 0x00);
}

TEST(RadioDES, NoKeyLeavesTheTelegramUnchanged) {
    RadioHeader h;
    const Bytes frame = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, DESKeys());
    RadioKeys none;
    EXPECT_FALSE(link::HasDESKey(none));
    EXPECT_EQ(DES(frame, none), frame);
    // The keyless scrambling needs a key set as well.
    h.version = 0x07;
    const Bytes scrambled = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, none);
    EXPECT_EQ(DES(scrambled, none), scrambled);
}

TEST(RadioDES, ZeroBytes20To27LeaveItUnchangedEvenWithAKey) {
    RadioHeader h;
    Bytes data(33, 0x00);
    data[0] = 0x0F;
    for (int i = 9; i < 33; ++i) data[i] = static_cast<uint8_t>(i * 7);
    const Bytes frame = LongFrame(h, data);
    EXPECT_EQ(DES(frame, DESKeys()), frame);
    h.version = 0x07;
    const Bytes scrambled = LongFrame(h, data);
    EXPECT_EQ(DES(scrambled, DESKeys()), scrambled);
}

TEST(RadioDES, MarkerWithoutLowNibbleFLeavesItUnchanged) {
    for (uint8_t marker : {0x00, 0x0E, 0x1E, 0xF0, 0x78}) {
        RadioHeader h;
        const Bytes frame = EncryptDESRadioTelegram(h, marker, kDESPlain, DESKeys());
        EXPECT_EQ(DES(frame, DESKeys()), frame);
    }
}

TEST(RadioDES, WrongCountOrLengthLeavesItUnchanged) {
    RadioHeader h;
    const RadioKeys keys = DESKeys();
    const Bytes good = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, keys);
    {
        // One data byte more or less: L 31h / 2Fh, count 55 / 53.
        Bytes longer(good.begin() + 19, good.end() - 2);
        longer.push_back(0x00);
        const Bytes f1 = LongFrame(h, longer);
        EXPECT_EQ(DES(f1, keys), f1);
        Bytes shorter(good.begin() + 19, good.end() - 3);
        const Bytes f2 = LongFrame(h, shorter);
        EXPECT_EQ(DES(f2, keys), f2);
    }
    {
        Bytes f = good;  // L fields differ
        f[2] = 0x31;
        EXPECT_EQ(DES(f, keys), f);
    }
    {
        Bytes f = good;  // both L fields wrong for the count
        f[1] = f[2] = 0x2F;
        EXPECT_EQ(DES(f, keys), f);
    }
    {
        Bytes f = good;  // checksum wrong
        f[52] ^= 0x01;
        EXPECT_EQ(DES(f, keys), f);
    }
    {
        Bytes f = good;  // no stop byte
        f[53] = 0x00;
        EXPECT_EQ(DES(f, keys), f);
    }
    {
        Bytes f = good;  // not a long frame
        f[0] = 0x10;
        EXPECT_EQ(DES(f, keys), f);
    }
    {
        // The count says 53 of the 54 bytes.
        std::vector<uint8_t> buffer(good.begin(), good.end());
        int count = 53;
        link::DESCheckAndDecryptRadioTelegram(buffer.data(), &count, keys);
        EXPECT_EQ(count, 53);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), good);
    }
}

TEST(RadioDES, WrongKeyStillRebuildsButGivesOtherData) {
    // DES has no check of its own: a wrong key yields other bytes in a
    // consistent frame.
    RadioHeader h;
    const Bytes frame = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, DESKeys());
    const Bytes out = DES(frame, DESKeys("FEDCBA9876543210"));
    EXPECT_EQ(out.size(), 53u);
    EXPECT_TRUE(IsValidLongFrame(out));
    EXPECT_NE(out, ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));
}

// ---- KAVOS standard form --------------------------------------------------

TEST(RadioKAVOS, KeyStreamByHand) {
    // Seed 2: feedback bits 1,1,1,0,0,1,0,1 -> E5h. Seed 80000000h: the top
    // bit leaves, then 0,1,1,1,0,0,1 -> B9h.
    EXPECT_EQ(KAVOSKeyStream(2, 1), Bytes{0xE5});
    EXPECT_EQ(KAVOSKeyStream(0x80000000u, 1), Bytes{0xB9});
    EXPECT_EQ(KAVOSKeyStream(0, 3), (Bytes{0, 0, 0}));
}

KAVOSPlain StandardPlain() {
    KAVOSPlain p;
    p.plain = FromHex("0413102700000259340802FD170000");
    p.tail = FromHex("2F2F");
    return p;
}

RadioKeys KAVOSKeys(int32_t option) {
    RadioKeys k;
    k.kavosOption = option;
    return k;
}

TEST(RadioKAVOS, StandardFormWithTheBuiltInKey) {
    for (int32_t option : {1, 3, -1, 255}) {
        const RadioKeys keys = KAVOSKeys(option);
        RadioHeader h;
        const KAVOSPlain p = StandardPlain();
        const Bytes frame = EncryptKAVOSStandard(h, p, keys.kavosBuiltInKey, false, keys.kavosSeedConstant);
        const Bytes plain = KAVOSStandardPlainFrame(h, p);
        ASSERT_NE(frame, plain);
        const Bytes out = KAVOS(frame, keys);
        EXPECT_EQ(out, plain);
        EXPECT_TRUE(IsValidLongFrame(out));
    }
}

TEST(RadioKAVOS, StandardFormWithTheSecondRegister) {
    const RadioKeys keys = KAVOSKeys(1);
    RadioHeader h;
    h.access = 0x13;
    const KAVOSPlain p = StandardPlain();
    const Bytes frame = EncryptKAVOSStandard(h, p, keys.kavosBuiltInKey, true, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), KAVOSStandardPlainFrame(h, p));
    // The user key takes only the first register.
    RadioKeys user = KAVOSKeys(2);
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(user, "0011223344556677"));
    EXPECT_EQ(KAVOS(frame, user), frame);
}

TEST(RadioKAVOS, SeedConstantIsSettable) {
    RadioKeys keys = KAVOSKeys(1);
    keys.kavosSeedConstant = 0x01020304;
    RadioHeader h;
    const KAVOSPlain p = StandardPlain();
    const Bytes frame = EncryptKAVOSStandard(h, p, keys.kavosBuiltInKey, true, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), KAVOSStandardPlainFrame(h, p));
}

TEST(RadioKAVOS, StandardFormWithAFullUserKey) {
    RadioKeys keys = KAVOSKeys(2);
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(keys, "0123456789abcdef"));
    const RadioKey key = link::KAVOSUserKeyOverBuiltIn(keys);
    EXPECT_EQ(key, (RadioKey{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    RadioHeader h;
    const KAVOSPlain p = StandardPlain();
    const Bytes frame = EncryptKAVOSStandard(h, p, key, false, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), KAVOSStandardPlainFrame(h, p));
}

TEST(RadioKAVOS, PartialUserKeyReplacesTheLeadingDigits) {
    RadioKeys keys = KAVOSKeys(2);
    keys.kavosBuiltInKey = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(keys, "ABC"));
    EXPECT_EQ(keys.kavosUserDigits, 3);
    EXPECT_EQ(link::KAVOSUserKeyOverBuiltIn(keys), (RadioKey{0xAB, 0xC2, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));

    RadioHeader h;
    const KAVOSPlain p = StandardPlain();
    const Bytes frame = EncryptKAVOSStandard(h, p, link::KAVOSUserKeyOverBuiltIn(keys), false, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), KAVOSStandardPlainFrame(h, p));

    // No digits: the built-in key itself.
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(keys, ""));
    EXPECT_EQ(link::KAVOSUserKeyOverBuiltIn(keys), keys.kavosBuiltInKey);
}

TEST(RadioKAVOS, WrongUserKeyLeavesItUnchanged) {
    RadioKeys sender = KAVOSKeys(2);
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(sender, "0123456789ABCDEF"));
    RadioHeader h;
    const KAVOSPlain p = StandardPlain();
    const Bytes frame =
        EncryptKAVOSStandard(h, p, link::KAVOSUserKeyOverBuiltIn(sender), false, sender.kavosSeedConstant);
    for (const char* wrong : {"0123456789ABCDEE", "F123456789ABCDEF", "1", "0123456789ABCDE"}) {
        SCOPED_TRACE(wrong);
        RadioKeys receiver = KAVOSKeys(2);
        ASSERT_TRUE(link::SetKAVOSUserKeyHex(receiver, wrong));
        EXPECT_EQ(KAVOS(frame, receiver), frame);
    }
    // The built-in key does not open a telegram of the user key either.
    EXPECT_EQ(KAVOS(frame, KAVOSKeys(1)), frame);
}

TEST(RadioKAVOS, OptionOffLeavesItUnchanged) {
    const RadioKeys keys = KAVOSKeys(0);
    RadioHeader h;
    const Bytes frame = EncryptKAVOSStandard(h, StandardPlain(), keys.kavosBuiltInKey, false, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), frame);
}

TEST(RadioKAVOS, RecognitionStepsLeaveOtherTelegramsUnchanged) {
    const RadioKeys keys = KAVOSKeys(1);
    RadioHeader h;
    const Bytes good = EncryptKAVOSStandard(h, StandardPlain(), keys.kavosBuiltInKey, false, keys.kavosSeedConstant);
    auto unchanged = [&](Bytes f, bool fixChecksum) {
        if (fixChecksum) FixChecksum(f);
        EXPECT_EQ(KAVOS(f, keys), f);
    };
    {
        Bytes f = good;  // no fabrication-number record
        f[20] = 0x79;
        unchanged(f, true);
        f = good;
        f[19] = 0x0B;
        unchanged(f, true);
    }
    {
        Bytes f = good;  // signature flag missing
        f[18] &= static_cast<uint8_t>(~0x10);
        unchanged(f, true);
    }
    {
        Bytes f = good;  // length zero
        f[17] = 0;
        unchanged(f, true);
    }
    {
        Bytes f = good;  // length beyond the data
        f[17] = static_cast<uint8_t>(f.size() - 2 - 25 + 1);
        unchanged(f, true);
    }
    {
        Bytes f = good;  // sum does not match
        f[18] ^= 0x01;
        unchanged(f, true);
    }
    {
        Bytes f = good;  // frame checksum wrong
        f[f.size() - 2] ^= 0xFF;
        unchanged(f, false);
    }
    {
        Bytes f = good;  // count and L disagree
        f.insert(f.end() - 2, 0x00);
        unchanged(f, true);
    }
}

TEST(RadioKAVOS, LengthUpToTheLastDataByte) {
    // n reaches exactly the last data byte.
    const RadioKeys keys = KAVOSKeys(1);
    RadioHeader h;
    KAVOSPlain p = StandardPlain();
    p.tail.clear();
    const Bytes frame = EncryptKAVOSStandard(h, p, keys.kavosBuiltInKey, false, keys.kavosSeedConstant);
    EXPECT_EQ(KAVOS(frame, keys), KAVOSStandardPlainFrame(h, p));
}

// ---- KAVOS template form --------------------------------------------------

KAVOSTemplate TemplatePlain(uint8_t type) {
    KAVOSTemplate t;
    t.type = type;
    t.plain = FromHex("0413E80300000259340802FD1700000C7887654321");
    return t;
}

TEST(RadioKAVOS, TemplateFormWithRawIdentification) {
    for (uint8_t type = 0xA1; type <= 0xA6; ++type) {
        SCOPED_TRACE(type);
        const RadioKeys keys = KAVOSKeys(1);
        RadioHeader h;
        const KAVOSTemplate t = TemplatePlain(type);
        const Bytes frame = EncryptKAVOSTemplate(h, t, keys.kavosBuiltInKey);
        const Bytes plain = KAVOSTemplatePlainFrame(h, t);
        ASSERT_NE(frame, plain);
        const Bytes out = KAVOS(frame, keys);
        EXPECT_EQ(out, plain);
        EXPECT_TRUE(IsValidLongFrame(out));
    }
}

TEST(RadioKAVOS, TemplateFormWithBCDIdentificationAndUserKey) {
    RadioKeys keys = KAVOSKeys(2);
    ASSERT_TRUE(link::SetKAVOSUserKeyHex(keys, "CAFE"));
    RadioHeader h;
    h.manufacturer[0] = 0x30;
    h.manufacturer[1] = 0x4C;
    h.version = 0x80;
    h.medium = 0x07;
    const KAVOSTemplate t = TemplatePlain(0xA3);
    const Bytes frame = EncryptKAVOSTemplate(h, t, link::KAVOSUserKeyOverBuiltIn(keys));
    EXPECT_EQ(KAVOS(frame, keys), KAVOSTemplatePlainFrame(h, t));
    // The identification number as a number and as raw bytes differ.
    RadioHeader other = h;
    other.medium = 0x06;
    const Bytes raw = EncryptKAVOSTemplate(other, t, link::KAVOSUserKeyOverBuiltIn(keys));
    EXPECT_NE(Bytes(raw.begin() + 64, raw.end() - 2), Bytes(frame.begin() + 64, frame.end() - 2));
    EXPECT_EQ(KAVOS(raw, keys), KAVOSTemplatePlainFrame(other, t));
}

TEST(RadioKAVOS, TemplateFormNeedsItsLayoutAndType) {
    const RadioKeys keys = KAVOSKeys(1);
    RadioHeader h;  // signature 0000h: no standard form either
    const Bytes good = EncryptKAVOSTemplate(h, TemplatePlain(0xA1), keys.kavosBuiltInKey);
    for (int offset : {26, 33, 38, 42, 47, 50, 51, 58, 63}) {
        SCOPED_TRACE(offset);
        Bytes f = good;
        f[offset] ^= 0x01;
        FixChecksum(f);
        EXPECT_EQ(KAVOS(f, keys), f);
    }
    for (uint8_t type : {0xA0, 0xA7, 0x00}) {
        Bytes f = good;
        f[63] = type;
        FixChecksum(f);
        EXPECT_EQ(KAVOS(f, keys), f);
    }
    // Nothing after the type byte.
    KAVOSTemplate empty = TemplatePlain(0xA1);
    empty.plain.clear();
    const Bytes f = KAVOSTemplatePlainFrame(h, empty);
    EXPECT_EQ(KAVOS(f, keys), f);
}

// ---- Keys as text, process-wide keys ------------------------------------

TEST(RadioKeysText, DESKeyTakesExactly16Digits) {
    RadioKeys k;
    EXPECT_EQ(link::GetDESKeyHex(k), "FFFFFFFFFFFFFFFF");
    EXPECT_TRUE(link::SetDESKeyHex(k, "0123456789abcdef"));
    EXPECT_EQ(link::GetDESKeyHex(k), "0123456789ABCDEF");
    EXPECT_TRUE(link::HasDESKey(k));
    for (const char* bad : {"", "0123456789ABCDE", "0123456789ABCDEF0", "0123456789ABCDEG", "0123 456789ABCDE"}) {
        EXPECT_FALSE(link::SetDESKeyHex(k, bad)) << bad;
        EXPECT_EQ(link::GetDESKeyHex(k), "0123456789ABCDEF");
    }
    EXPECT_TRUE(link::SetDESKeyHex(k, "FFFFFFFFFFFFFFFF"));
    EXPECT_FALSE(link::HasDESKey(k));
}

TEST(RadioKeysText, KAVOSUserKeyRemembersItsDigits) {
    RadioKeys k;
    EXPECT_EQ(link::GetKAVOSUserKeyHex(k), "");
    EXPECT_TRUE(link::SetKAVOSUserKeyHex(k, "12ab"));
    EXPECT_EQ(k.kavosUserDigits, 4);
    EXPECT_EQ(link::GetKAVOSUserKeyHex(k), "12AB");
    EXPECT_TRUE(link::SetKAVOSUserKeyHex(k, "123"));
    EXPECT_EQ(link::GetKAVOSUserKeyHex(k), "123");
    EXPECT_EQ(k.kavosUserKey[1], 0x30);
    EXPECT_TRUE(link::SetKAVOSUserKeyHex(k, "FEDCBA9876543210"));
    EXPECT_EQ(link::GetKAVOSUserKeyHex(k), "FEDCBA9876543210");
    for (const char* bad : {"FEDCBA98765432100", "12X", " 12"}) {
        EXPECT_FALSE(link::SetKAVOSUserKeyHex(k, bad)) << bad;
        EXPECT_EQ(link::GetKAVOSUserKeyHex(k), "FEDCBA9876543210");
    }
    EXPECT_TRUE(link::SetKAVOSUserKeyHex(k, ""));
    EXPECT_EQ(k.kavosUserDigits, 0);
}

class RadioGlobal : public ::testing::Test {
protected:
    void SetUp() override { link::SetRadioKeys(RadioKeys{}); }
    void TearDown() override { link::SetRadioKeys(RadioKeys{}); }
};

TEST_F(RadioGlobal, CopyInCopyOut) {
    EXPECT_FALSE(link::HasDESKey(link::GetRadioKeys()));
    EXPECT_TRUE(link::SetDESKeyHex("0123456789ABCDEF"));
    EXPECT_FALSE(link::SetDESKeyHex("0123"));
    EXPECT_EQ(link::GetDESKeyHex(), "0123456789ABCDEF");
    EXPECT_TRUE(link::SetKAVOSUserKeyHex("CAFE"));
    EXPECT_EQ(link::GetKAVOSUserKeyHex(), "CAFE");
    link::UpdateRadioKeys([](RadioKeys& k) { k.kavosOption = 2; });
    RadioKeys copy = link::GetRadioKeys();
    EXPECT_EQ(copy.kavosOption, 2);
    EXPECT_EQ(copy.kavosUserDigits, 4);
    copy.kavosSeedConstant = 1;
    EXPECT_NE(link::GetRadioKeys().kavosSeedConstant, 1u);
    link::SetRadioKeys(copy);
    EXPECT_EQ(link::GetRadioKeys().kavosSeedConstant, 1u);
    {
        std::lock_guard lock(link::GlobalRadioKeysMutex());
        EXPECT_EQ(link::GlobalRadioKeys().kavosSeedConstant, 1u);
    }
}

TEST_F(RadioGlobal, ChecksWithTheProcessWideKeys) {
    RadioHeader h;
    const Bytes frame = EncryptDESRadioTelegram(h, 0x0F, kDESPlain, DESKeys());
    std::vector<uint8_t> buffer(kRoom);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    int count = 54;
    link::DESCheckAndDecryptRadioTelegram(buffer.data(), &count);
    EXPECT_EQ(count, 54);  // no key yet
    ASSERT_TRUE(link::SetDESKeyHex("0123456789ABCDEF"));
    link::DESCheckAndDecryptRadioTelegram(buffer.data(), &count);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), ExpectedDESRadioTelegram(h, 0x0F, kDESPlain));

    const RadioKeys builtIn = KAVOSKeys(1);
    const KAVOSPlain p = StandardPlain();
    const Bytes kf = EncryptKAVOSStandard(h, p, builtIn.kavosBuiltInKey, false, builtIn.kavosSeedConstant);
    std::copy(kf.begin(), kf.end(), buffer.begin());
    count = static_cast<int>(kf.size());
    link::KAVOSCheckAndDecryptRadioTelegram(buffer.data(), &count);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), kf);  // option off
    link::UpdateRadioKeys([](RadioKeys& k) { k.kavosOption = 1; });
    link::KAVOSCheckAndDecryptRadioTelegram(buffer.data(), &count);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), KAVOSStandardPlainFrame(h, p));
}

TEST_F(RadioGlobal, ConcurrentReadersSeeWholeKeys) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) link::SetDESKeyHex(i % 2 ? "0123456789ABCDEF" : "FEDCBA9876543210");
        stop = true;
    });
    int reads = 0;
    while (!stop || reads < 10) {
        const std::string key = link::GetRadioKeys().desKey == RadioKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}
                                    ? "none"
                                    : link::GetDESKeyHex();
        EXPECT_TRUE(key == "none" || key == "0123456789ABCDEF" || key == "FEDCBA9876543210") << key;
        ++reads;
    }
    writer.join();
}

// ---- Robustness -----------------------------------------------------------

TEST(RadioRobustness, NullPointersAndHugeCounts) {
    const RadioKeys keys = [] {
        RadioKeys k = DESKeys();
        k.kavosOption = 1;
        return k;
    }();
    int count = 54;
    link::DESCheckAndDecryptRadioTelegram(nullptr, &count, keys);
    link::KAVOSCheckAndDecryptRadioTelegram(nullptr, &count, keys);
    uint8_t small[9] = {0x68, 0x03, 0x03, 0x68, 0x08, 0x01, 0x72, 0x7B, 0x16};
    link::DESCheckAndDecryptRadioTelegram(small, nullptr, keys);
    link::KAVOSCheckAndDecryptRadioTelegram(small, nullptr, keys);
    for (int huge : {6145, 100000, -1, 0, 1}) {
        count = huge;
        link::DESCheckAndDecryptRadioTelegram(small, &count, keys);
        link::KAVOSCheckAndDecryptRadioTelegram(small, &count, keys);
        EXPECT_EQ(count, huge);
    }
}

// Random frames in buffers of exactly their size (so that the address
// sanitizer sees any access past the count): some random bytes, most
// shaped like the telegrams the checks look for.
TEST(RadioRobustness, RandomFramesNeverCrash) {
    std::mt19937 rng(2024);
    auto byte = [&] { return static_cast<uint8_t>(rng()); };
    int changed = 0;
    for (int round = 0; round < 20000; ++round) {
        RadioKeys keys;
        if (rng() % 4 != 0) link::SetDESKeyHex(keys, "0123456789ABCDEF");
        keys.kavosOption = static_cast<int32_t>(rng() % 4);
        link::SetKAVOSUserKeyHex(keys, std::string("0123456789ABCDEF").substr(0, rng() % 17));

        Bytes f;
        const int shape = static_cast<int>(rng() % 6);
        if (shape == 0) {
            f.resize(rng() % 300);
            for (auto& b : f) b = byte();
        } else {
            RadioHeader h;
            for (auto& b : h.id) b = byte();
            h.version = byte();
            h.access = byte();
            h.signature[0] = shape == 3 ? static_cast<uint8_t>(rng() % 60) : byte();
            h.signature[1] = byte();
            if (shape == 5) {
                h.manufacturer[0] = 0x30;
                h.manufacturer[1] = 0x4C;
                h.version = 0x80;
                h.medium = 0x07;
            }
            Bytes data(shape == 2 ? 33 : rng() % 240);
            for (auto& b : data) b = byte();
            if (shape == 2 && !data.empty()) data[0] |= 0x0F;
            if ((shape == 3 || shape == 4 || shape == 5) && data.size() >= 2) {
                data[0] = 0x0C;
                data[1] = 0x78;
            }
            if (shape == 4 || shape == 5) {
                KAVOSTemplate t;
                t.type = static_cast<uint8_t>(0xA0 + rng() % 8);
                t.plain.resize(rng() % 150);
                for (auto& b : t.plain) b = byte();
                const Bytes whole = KAVOSTemplatePlainFrame(h, t);
                data = Bytes(whole.begin() + 19, whole.end() - 2);
            }
            f = LongFrame(h, data);
            if (rng() % 8 == 0 && !f.empty()) f[rng() % f.size()] ^= byte();  // damage
        }
        const Bytes before = f;
        auto buffer = std::make_unique<uint8_t[]>(f.size() + (f.empty() ? 1 : 0));
        std::copy(f.begin(), f.end(), buffer.get());
        int count = static_cast<int>(f.size());
        link::DESCheckAndDecryptRadioTelegram(buffer.get(), &count, keys);
        ASSERT_TRUE(count == static_cast<int>(f.size()) || (f.size() == 54 && count == 53));
        link::KAVOSCheckAndDecryptRadioTelegram(buffer.get(), &count, keys);
        const Bytes after(buffer.get(), buffer.get() + count);
        if (after != Bytes(before.begin(), before.begin() + count)) {
            ++changed;
            EXPECT_TRUE(IsValidLongFrame(after));
        }
    }
    EXPECT_GT(changed, 100);
}

}  // namespace
}  // namespace mbus::test
