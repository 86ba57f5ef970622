// The address functions: the field-exit rules of the address group, the
// set-address record text of each module variant byte for byte, the bytes
// the control's script reader makes of it, and the write applied to the
// simulated modules and read back at the new address.

#include "configurator/devices/address_setting.h"

#include <gtest/gtest.h>

#include "configurator/shell/read_script.h"
#include "control/com/script_parser.h"
#include "tests/configurator/answer_lines.h"

namespace mbus::meridex {
namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Field exit

TEST(AddressFields, SecondaryKeepsHexDigitsAndIsFilledWithWildcards) {
    const struct {
        const char* typed;
        const char* shown;
    } rows[] = {
        {"12AB", "12ABFFFF"},         {"12ab", "12ABFFFF"},      {"", "FFFFFFFF"},
        {"12345678", "12345678"},     {"123456789A", "12345678"}, {"12-34 56:78", "12345678"},
        {"xyz", "FFFFFFFF"},          {"0", "0FFFFFFF"},          {"g1h2", "12FFFFFF"},
        {"ffffffff", "FFFFFFFF"},     {"  00000042  ", "00000042"},
    };
    for (const auto& r : rows) EXPECT_EQ(NormalisedSecondaryAddress(r.typed), r.shown) << '"' << r.typed << '"';
}

TEST(AddressFields, PrimaryKeepsThreeDigitsAndIsLimitedTo255) {
    const struct {
        const char* typed;
        const char* shown;
    } rows[] = {
        {"300", "255"}, {"", "0"},     {"abc", "0"},   {"255", "255"}, {"256", "255"}, {"254", "254"},
        {"12", "12"},   {"007", "007"}, {"1a2", "12"}, {"1234", "123"}, {"999", "255"}, {"-5", "5"},
        {"0", "0"},     {" 4 0 ", "40"},
    };
    for (const auto& r : rows) EXPECT_EQ(NormalisedPrimaryAddress(r.typed), r.shown) << '"' << r.typed << '"';
}

// ---------------------------------------------------------------------------
// Set address

TEST(SetAddress, NewPrimaryIsClampedTo252AndWrittenAsTwoHexDigits) {
    const struct {
        const char* field;
        int value;
        const char* hex;
    } rows[] = {
        {"0", 0, "00"},   {"12", 12, "0C"},   {"252", 252, "FC"}, {"253", 252, "FC"}, {"255", 252, "FC"},
        {"300", 252, "FC"}, {"", 0, "00"},    {"x", 0, "00"},     {"10a", 10, "0A"},  {"-7", 0, "00"},
        {"160", 160, "A0"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(NewPrimaryValue(r.field), r.value) << '"' << r.field << '"';
        EXPECT_EQ(NewPrimaryHex(r.field), r.hex) << '"' << r.field << '"';
    }
}

TEST(SetAddress, NewSecondaryIsFourBytesLeastSignificantFirst) {
    const struct {
        const char* field;
        const char* bytes;
    } rows[] = {
        {"12345678", "78563412"},
        {"123456789012", "78563412"},  // only the first 8 digits count
        {"", "FFFFFFFF"},              // unchanged
        {"12AB", "FFFFAB12"},
        {"1234 5678", "78563412"},
        {"87654321", "21436587"},
    };
    for (const auto& r : rows) EXPECT_EQ(NewSecondaryBytes(r.field), r.bytes) << '"' << r.field << '"';
}

TEST(SetAddress, RecordTextOfEachVariantByteForByte) {
    const struct {
        const char* name;
        int kind;
        const char* primary;
        const char* secondary;
        const char* records;
    } rows[] = {
        {"Pulse: the primary address only, whatever the secondary field holds", kModulePulse, "12", "24681357",
         "01 7A 0C 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 "
         "06 FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF"},
        {"Pulse at 300 gives 252", kModulePulse, "300", "",
         "01 7A FC 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 "
         "06 FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF"},
        {"Analog", kModuleAnalog, "7", "24681357",
         "01 7A 07 07 79 57136824 C4 59 96 19 01 FD 0B FF 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF"},
        {"Analog with an empty secondary field", kModuleAnalog, "0", "",
         "01 7A 00 07 79 FFFFFFFF C4 59 96 19 01 FD 0B FF 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF"},
        {"Control", kModuleControl, "250", "11223344",
         "01 7A FA 07 79 44332211 C4 59 97 0E 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF"},
        {"not identified", kModuleUnknown, "12", "24681357", ""},
        {"a kind no module has", 3, "12", "24681357", ""},
    };
    for (const auto& r : rows) {
        const AddressWrite w = SetAddressWrite(r.kind, r.primary, r.secondary);
        EXPECT_EQ(w.records, r.records) << r.name;
        EXPECT_EQ(w.newPrimaryAddress, std::to_string(NewPrimaryValue(r.primary))) << r.name;
    }
    EXPECT_EQ(SetAddressWrite(kModuleUnknown, "12", "").newPrimaryAddress, "12") << "queued without a record";
    EXPECT_EQ(SetAddressWrite(kModuleControl, "253", "").newPrimaryAddress, "252");
}

// The data bytes the control sends for "7|A||51 " + text.
Bytes SentBytes(const std::string& text) {
    const std::vector<control::ScriptItem> items = control::ParseScript("7|5||51 " + text, control::ParseSettings{});
    return items.size() == 1 ? items[0].data : Bytes{};
}

TEST(SetAddress, TheControlReadsEveryByteOfTheText) {
    const Bytes analog = {0x51, 0x01, 0x7A, 0x07, 0x07, 0x79, 0x57, 0x13, 0x68, 0x24, 0xC4, 0x59, 0x96, 0x19,
                          0x01, 0xFD, 0x0B, 0xFF, 0x03, 0xFE, 0x28, 0x00, 0x00, 0x00, 0x83, 0x40, 0xFE, 0x28,
                          0x00, 0x00, 0x00, 0x82, 0xC0, 0x40, 0xFD, 0x56, 0xFF, 0xFF};
    const std::string text = SetAddressWrite(kModuleAnalog, "7", "24681357").records;
    EXPECT_EQ(SentBytes(text), analog);
    // Joined without the blank between the address records and the rest,
    // the text sends the same bytes.
    std::string joined = text;
    joined.erase(joined.find("19 01") + 2, 1);
    ASSERT_NE(joined, text);
    EXPECT_EQ(SentBytes(joined), analog);

    const Bytes control = {0x51, 0x01, 0x7A, 0xFA, 0x07, 0x79, 0x44, 0x33, 0x22, 0x11, 0xC4, 0x59, 0x97, 0x0E,
                           0x41, 0xFD, 0x1A, 0xFF, 0x81, 0x01, 0xFD, 0x1A, 0xFF, 0xC1, 0x40, 0xFD, 0x1A, 0xFF,
                           0x81, 0x41, 0xFD, 0x1A, 0xFF};
    EXPECT_EQ(SentBytes(SetAddressWrite(kModuleControl, "250", "11223344").records), control);
    const Bytes pulse = {0x51, 0x01, 0x7A, 0x0C, 0x07, 0x79, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0x87, 0x40, 0x79, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x86, 0x28,
                         0x00, 0x00, 0x82, 0x40, 0x86, 0x28, 0x00, 0x00, 0x06, 0x06, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0x86, 0x40, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(SentBytes(SetAddressWrite(kModulePulse, "12", "").records), pulse);
}

TEST(SetAddress, QueuedWriteGoesToTheOldAddressAndTheReadToTheNewOne) {
    const AddressWrite w = SetAddressWrite(kModuleControl, "12", "11223344");
    ReadJob job;
    job.connection.addressType = kPrimaryAddress;
    job.connection.baudIndex = 1;
    job.primaryAddress = "5";
    job.moduleKind = kModuleControl;
    job.pendingRecords1 = w.records;
    job.newPrimaryAddress = w.newPrimaryAddress;
    const std::vector<std::string> expected = {
        "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|",
        "7|5||51 01 7A 0C 07 79 44332211 C4 59 97 0E 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF",
        "14||5|",
        "5|12||",
        "16|||",
    };
    EXPECT_EQ(ReadScriptLines(job), expected);
}

// ---------------------------------------------------------------------------
// The write applied to the simulated modules

class SetAddressOnModules : public ::testing::Test, public test::AnswerLines {
protected:
    // The header of a read at A; empty when nothing answered as a module.
    std::optional<AnswerHeader> HeaderAt(uint8_t A) {
        const std::optional<Readout> r = ParseAnswerLine(ReadLine(A));
        if (!r) return std::nullopt;
        return r->header;
    }
};

TEST_F(SetAddressOnModules, PulseChangesOnlyItsPrimaryAddress) {
    AddSlave("module=pulse man=VND primary=5 id=13572468 id2=24681357");
    ASSERT_EQ(Write(5, SetAddressWrite(kModulePulse, "12", "99999999").records), Bytes{0xE5});
    EXPECT_FALSE(HeaderAt(5)) << "nothing answers at the old address";
    const std::optional<AnswerHeader> h = HeaderAt(12);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->primaryAddress, "12");
    EXPECT_EQ(h->identification, "13572468") << "the secondary address is left as it was";
}

TEST_F(SetAddressOnModules, AnalogAndControlTakeBothAddresses) {
    const struct {
        const char* module;
        int kind;
        uint8_t before;
        const char* primary;
        uint8_t after;
        const char* secondary;
    } rows[] = {
        {"module=analog man=VND primary=3 id=11111111", kModuleAnalog, 3, "7", 7, "24681357"},
        {"module=control man=VND primary=4 id=22222222", kModuleControl, 4, "300", 252, "87654321"},
        {"module=analog man=KTR primary=6 id=33333333", kModuleAnalog, 6, "9", 9, "10203040"},
    };
    for (const auto& r : rows) {
        AddSlave(r.module);
        ASSERT_EQ(Write(r.before, SetAddressWrite(r.kind, r.primary, r.secondary).records), Bytes{0xE5}) << r.module;
        EXPECT_FALSE(HeaderAt(r.before)) << r.module;
        const std::optional<AnswerHeader> h = HeaderAt(r.after);
        ASSERT_TRUE(h) << r.module;
        EXPECT_EQ(h->primaryAddress, std::to_string(r.after)) << r.module;
        EXPECT_EQ(h->identification, r.secondary) << r.module;
    }
}

TEST_F(SetAddressOnModules, AnEmptySecondaryFieldKeepsTheIdentification) {
    AddSlave("module=control man=VND primary=4 id=22222222");
    ASSERT_EQ(Write(4, SetAddressWrite(kModuleControl, "8", "").records), Bytes{0xE5});
    const std::optional<AnswerHeader> h = HeaderAt(8);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->identification, "22222222");
}

}  // namespace
}  // namespace mbus::meridex
