// VIF/VIFE texts, multipliers, normalised units and non-metric names.

#include <cstring>

#include "control/decode/options.h"
#include "control/decode/vib.h"
#include "platform/text/codepage.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using VibTest = DecoderTest;

std::string Describe(const Bytes& vib, int structureKind = kVariableLsbFirst) {
    MBTelegram t;
    t.structureKind = static_cast<uint32_t>(structureKind);
    char text[1000];
    t.VIBInterpret(vib.data(), static_cast<int>(vib.size()), text);
    return text;
}

struct Norm {
    std::string text;
    int quantityClass;
    double factor;
};
Norm Normalise(const Bytes& vib, int structureKind = kVariableLsbFirst) {
    MBTelegram t;
    t.structureKind = static_cast<uint32_t>(structureKind);
    char text[1000];
    Norm n;
    t.VIBInterpret2(vib.data(), static_cast<int>(vib.size()), text, &n.quantityClass, &n.factor);
    n.text = text;
    return n;
}

TEST_F(VibTest, DescriptionsInEnglish) {
    const struct {
        const char* vib;
        const char* text;
    } cases[] = {
        {"13", "Volume [l]"},
        {"86 A2 74", "Energy [kWh]->per hour->*10E-2"},
        {"93 3D", "Volume [USgal]"},
        {"86 3D", "Energy [MBTU]"},
        {"FF 12 AB", "Manufacturer specific->12AB"},
        {"FB 0E", "Energy 10 [MCal]"},
        {"FD 30", "Start of Tariff"},
        {"FD 9D 20", "Response Delay time [bittimes]->per second"},
        {"FE 22", "Any VIF->per hour"},
        {"7E", "Any VIF"},
        {"7B", "Table FB"},
        {"DB 48", "Flow Temperature [°C]->Upper Limit Value"},
        {"E7 3D", "External Temperature [°F]"},
        {"AB 3D", "Power [mBTU/s]"},
    };
    for (const auto& c : cases) EXPECT_EQ(text::ToUtf8(Describe(Hex(c.vib)), text::CodePage::Windows1252), c.text) << c.vib;
}

TEST_F(VibTest, FixedStructureUsesFixedUnitTable) {
    EXPECT_EQ(Describe(Hex("05"), kFixedLsbFirst), "[kWh]");
    EXPECT_EQ(Describe(Hex("45"), kFixedMsbFirst), "[kWh]");  // bits 6..7 belong to the medium
    EXPECT_EQ(Describe(Hex("3F"), kFixedLsbFirst), "No unit");
}

TEST_F(VibTest, LengthOutOfRangeWritesNothing) {
    EXPECT_EQ(Describe(Bytes{}), "");
    MBTelegram t;
    char text[1000] = "x";
    Bytes big(271, 0x13);
    t.VIBInterpret(big.data(), 271, text);
    EXPECT_STREQ(text, "");
}

TEST_F(VibTest, DescriptionFollowsTheLanguage) {
    MBusLanguage = 1;
    const std::string german = text::ToUtf8(Describe(Hex("13")), text::CodePage::Windows1252);
    EXPECT_NE(german, "Volume [l]");
    EXPECT_NE(german.find("[l]"), std::string::npos);
    MBusLanguage = 4;
    const std::string russian = text::ToUtf8(Describe(Hex("13")), text::CodePage::Windows1251);
    EXPECT_NE(russian.find("[l]"), std::string::npos);
    EXPECT_GT(static_cast<unsigned char>(Describe(Hex("13"))[0]), 0x7F);  // Cyrillic in the 1251 upper half
}

TEST(VibMultiplier, FromTheEnglishUnitText) {
    const struct {
        uint8_t vif, ext;
        int kind, multiplier;
    } cases[] = {
        {0x07, 0, 1, 10},     // Energy 10 [kWh]
        {0x02, 0, 1, 100},    // Energy 100 [mWh]
        {0x06, 0, 1, 1},      // Energy [kWh]
        {0x87, 0x22, 1, 10},  // extension bit ignored
        {0x40, 0, 1, 1},      // Volume Flow 100 [µl/min] is never lowered
        {0x7C, 0, 1, 1},      // codes above 7Ah
        {0xFB, 0x11, 1, 1},   // Volume 1000 [m3]: FB code not lowered
        {0xFB, 0x03, 1, 10},  // Reactive Energy 10 [kVARh]
        {0xFB, 0x0F, 1, 100}, // Energy 100 [MCal]
        {0xFB, 0x00, 1, 1},   // Energy 100 [kWh]: FB code not lowered
        {0xFB, 0x72, 1, 100}, // Cold / Warm Temperature Limit 100 [m°F]
        {0xFD, 0x03, 1, 100}, // Credit 1000 [currency]
        {0xFD, 0x01, 1, 10},
        {0xFD, 0x10, 1, 1},   // no bracket
        {0x06, 0, 0, 10},     // fixed unit 06h: 10 [kWh]
        {0x07, 0, 2, 100},    // fixed unit 07h: 100 [kWh]
        {0x39, 0, 0, 1},      // HCA
    };
    for (const auto& c : cases)
        EXPECT_EQ(MBTelegram::VIBMultiplierCheck(c.vif, c.ext, c.kind), c.multiplier)
            << std::hex << int(c.vif) << " " << int(c.ext);
}

TEST_F(VibTest, CreditOf1000IsLoweredToTheTenRow) {
    const auto t = DecodeRecords(Hex("04 FD 03 05 00 00 00"));
    EXPECT_EQ(t->records[0].VIB()[1], 0x01);
    EXPECT_EQ(t->records[0].value, 500);
    EXPECT_EQ(RecordDescription(*t, t->records[0]), "Credit 10 [currency]");
}

TEST_F(VibTest, NormalisedUnits) {
    const struct {
        const char* vib;
        int kind;
        const char* text;
        int quantityClass;
        double factor;
    } cases[] = {
        {"13", 1, "Volume [m3]", 3, 0.001},
        {"47", 1, "Volume Flow [m3/h]", 7, 60},
        {"40", 1, "Volume Flow [m3/h]", 7, 6e-6},
        {"4F", 1, "Volume Flow [m3/h]", 7, 36},
        {"3B", 1, "Volume Flow [m3/h]", 7, 0.001},
        {"20", 1, "On Time [s]", 99, 1},
        {"03", 1, "Energy [kWh]", 1, 0.001},
        {"0E", 1, "Energy [MJ]", 2, 1},
        {"FB 01", 1, "Energy [kWh]", 1, 1000},
        {"FB 19", 1, "Mass [kg]", 4, 1e6},
        {"FB 0E", 1, "Energy 10 [MCal]", 99, 1},
        {"5A", 1, "Flow Temperature [°C]", 9, 0.1},
        {"6E", 1, "Heat Cost Allocator", 14, 1},
        {"FD 46", 1, "Voltage [V]", 15, 0.001},
        {"FD 50", 1, "Current [A]", 16, 1e-12},
        {"93 22", 1, "Volume [m3]->per hour", 3, 0.001},
        {"FD C6 22", 1, "Voltage [V]->per hour", 15, 0.001},
        {"05", 0, "Energy [kWh]", 1, 1},
        {"29", 0, "Volume [m3]", 3, 0.001},
        {"38", 0, "Flow Temperature [°C]", 9, 0.001},
        {"39", 2, "Heat Cost Allocator", 14, 1},
        {"00", 0, "[h,m,s]", 99, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vib);
        const Norm n = Normalise(Hex(c.vib), c.kind);
        EXPECT_EQ(text::ToUtf8(n.text, text::CodePage::Windows1252), c.text);
        EXPECT_EQ(n.quantityClass, c.quantityClass);
        EXPECT_NEAR(n.factor, c.factor, c.factor * 1e-12);
    }
}

TEST_F(VibTest, CorrectionVIFEsScaleTheNormalisedValue) {
    const struct {
        const char* vib;
        int quantityClass;
        double factor;
    } cases[] = {
        {"86 74", 1, 1e-2},         // kWh x 10^-2
        {"93 7D", 3, 1.0},          // litres x 1000
        {"86 F0 77", 1, 1e-5},      // two of them multiply
        {"A0 75", 99, 0.1},         // no base unit: the correction alone
        {"FD C9 73", 15, 1e-3},     // after an FD code
        {"86 FF 74", 1, 1.0},       // behind 7Fh the VIFEs are the manufacturer's
        {"FF 74", 99, 1.0},         // manufacturer-specific VIF
        {"FC 03 6B 57 68 00 74", 99, 1e-2},     // plain text "kWh", VIFE behind the zero
        {"FC 03 6B 57 68 00 F7 7D", 99, 1e4},
        {"FC 03 74 74 74 00", 99, 1.0},         // text bytes are no VIFEs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vib);
        Bytes vib = Hex(c.vib);
        MBTelegram t;
        t.structureKind = kVariableLsbFirst;
        // A plain-text VIB's length does not count the zero behind the text.
        const bool plain = vib[0] == 0xFC;
        char text[1000];
        Norm n;
        t.VIBInterpret2(vib.data(), static_cast<int>(vib.size()) - (plain ? 1 : 0), text, &n.quantityClass, &n.factor);
        EXPECT_EQ(n.quantityClass, c.quantityClass);
        EXPECT_NEAR(n.factor, c.factor, c.factor * 1e-12);
    }
}

TEST(VibScale, MultiplierWrittenBeforeTheUnit) {
    const struct {
        const char* vib;
        int kind;
        double scale;
    } cases[] = {
        {"05", 1, 100},        {"07", 1, 10},     {"06", 1, 1},        {"40", 1, 100},  // never lowered, still x100
        {"FB 00", 1, 100},     {"FB 11", 1, 1000}, {"FB 21", 1, 0.1},   {"FB A4", 1, 0.001},
        {"FD 03", 1, 1000},    {"FD 10", 1, 1},   {"6D", 1, 1},        {"07", 0, 100},  // fixed: 100 [kWh]
        {"FC 02 6B 57 00", 1, 1}, {"FF 05", 1, 1},
    };
    for (const auto& c : cases) {
        const Bytes vib = Hex(c.vib);
        EXPECT_DOUBLE_EQ(UnitTextScale(vib.data(), static_cast<int>(vib.size()), c.kind), c.scale) << c.vib;
    }
}

TEST(VibNonMetric, ReplacesUnitNamesInOrder) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Energy [mWh]", "Energy [BTU]"},
        {"Energy [Wh]", "Energy [kBTU]"},
        {"Energy [kWh]", "Energy [MBTU]"},
        {"Volume [l] and [l]", "Volume [USgal] and [USgal]"},
        {"Power [kW]", "Power [BTU/s]"},
        {"Temperature Difference [mK]", "Temperature Difference [m°F]"},
        {"Temperature Difference [K]", "Temperature Difference [°F]"},
        {"Volume Flow [µl/min]", "Volume Flow [µUSgal/min]"},
        {"Mass [kg]", "Mass [kg]"},
    };
    for (const auto& c : cases) {
        char text[1000];
        std::strcpy(text, text::FromUtf8(c.in, text::CodePage::Windows1252).c_str());
        MBTelegram::VIBMetric2NonMetric(text);
        EXPECT_EQ(text::ToUtf8(text, text::CodePage::Windows1252), c.out) << c.in;
    }
}

TEST(VibUnit, PartInsideTheFirstBrackets) {
    EXPECT_EQ(UnitOf("Energy [kWh]"), "kWh");
    EXPECT_EQ(UnitOf("Energy [kWh]->per hour"), "kWh");
    EXPECT_EQ(UnitOf("Fabrication Number"), "Fabrication Number");
    EXPECT_EQ(UnitOf("odd ["), "odd [");
    EXPECT_EQ(UnitOf("open [end"), "end");
}

TEST(VibText, BuilderNeverOverflows) {
    char buf[8];
    TextBuilder b(buf, sizeof buf);
    b.Append("0123456789");
    EXPECT_EQ(b.View(), "0123456");
    EXPECT_EQ(buf[7], '\0');
}

}  // namespace
}  // namespace mbus::test
