// The maker's modules and interface devices on the simulated bus: their
// answers as the configuration program reads them (cooked Hex2 text), the
// record texts it writes, and the converter and transceiver in front of them.

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "control/decode/answer_text.h"
#include "control/decode/options.h"
#include "control/line/frame_shape.h"
#include "sim/bus_description.h"
#include "sim/modules.h"
#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;

const SimClock::time_point kEnd = SimClock::time_point{} + 100s;

// The modules of the demo bus.
constexpr const char* kPulse =
    "module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1 "
    "id2=55667788 medium2=02 unit2=06 count2=250 factor2=1/2";
constexpr const char* kControl = "module=control man=KTR primary=2 firmware=12 id=22334455 p1=1 r1logic=2 r1fail=2 r2=1";
constexpr const char* kAnalog =
    "module=analog man=VND primary=3 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B a2=1/1/0 "
    "temp=21.5 sensor=pt1000 minmax=a1 current=12000";

// Zero subunit, tariff and storage of a record's descriptor.
#define ZEROS "00000000" "00000000" "0000000000000000"

VirtualSlave Slave(std::string_view fields) {
    VirtualSlave s;
    std::vector<std::string> errors;
    EXPECT_TRUE(ParseSlave(fields, &s, errors)) << (errors.empty() ? "" : errors.front());
    return s;
}

serial::SerialConfig Line(int baud) {
    serial::SerialConfig c;
    c.baud = baud;
    return c;
}

// The answer as the program reads it from the telegram log, with the access
// number (which counts the answers, and which the program does not read) as "..".
std::string Hex2(const Bytes& answer) {
    const auto t = Decode(answer);
    if (!t) return "(no RSP_UD: " + HexText(answer) + ")";
    std::string text = CookedData(AnswerView::Of(*t), CookedVariant::Hex2);
    if (text.size() > 27) text.replace(25, 2, "..");
    return text;
}

// Text up to and including the header's "|".
std::string HeaderOf(const std::string& hex2) { return hex2.substr(0, hex2.find('|') + 1); }

std::string PulseState(const VirtualSlave& s) {
    const PulseModule& p = *s.module.As<PulseModule>();
    std::string text = "primary " + std::to_string(s.values.primaryAddress);
    for (int n = 1; n <= 2; ++n) {
        const PulseInput& in = p.Input(n);
        char part[120];
        std::snprintf(part, sizeof part, "; %d: %08X medium %02X unit %02X raw %llu factor %u/%u", n,
                      static_cast<unsigned>(in.id), in.medium, in.unit, static_cast<unsigned long long>(in.raw),
                      in.numerator, in.denominator);
        text += part;
    }
    return text;
}

std::string ControlState(const VirtualSlave& s) {
    const ControlModule& c = *s.module.As<ControlModule>();
    std::string text;
    for (int r = 1; r <= 2; ++r) {
        const ControlModule::Relay& relay = c.RelayState(r);
        char part[80];
        std::snprintf(part, sizeof part, "%sR%d configuration %u commanded %d output %d", r == 2 ? "; " : "", r,
                      relay.configuration, relay.commanded, relay.output);
        text += part;
    }
    return text;
}

std::string AnalogState(const VirtualSlave& s) {
    const AnalogModule& a = *s.module.As<AnalogModule>();
    char text[240];
    std::snprintf(text, sizeof text,
                  "primary %d id %08X medium %02X; mode %02X; A1 unit %02X %u/%d/%d; A2 unit %02X %u/%d/%d; "
                  "current %u; V1 %012llX V2 %012llX",
                  s.values.primaryAddress, static_cast<unsigned>(s.values.identNumber), s.values.medium, a.Mode(),
                  a.AnalogInput(1).unit, a.AnalogInput(1).a, a.AnalogInput(1).b, a.AnalogInput(1).c,
                  a.AnalogInput(2).unit, a.AnalogInput(2).a, a.AnalogInput(2).b, a.AnalogInput(2).c, a.Current(),
                  static_cast<unsigned long long>(a.V1()), static_cast<unsigned long long>(a.V2()));
    return text;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        MBusOption.Reset();
        MBusOption.OPTOnlyVIFUnitsWithoutMultiplier = 0;  // as the configuration program sets it
        MBusLanguage = 0;
        bus.SetPaced(false);
    }
    void TearDown() override { MBusOption.Reset(); }

    Bytes Exchange(const Bytes& frame, int baud = 2400) { return ValuesOf(bus.OnMasterBytes(frame, kEnd, Line(baud))); }
    // "5|A||": REQ_UD2 with the FCB alternating, as a master sends it.
    Bytes Read(uint8_t A, int baud = 2400) {
        fcb_ = !fcb_;
        return Exchange(ShortFrame(fcb_ ? 0x7B : 0x5B, A), baud);
    }
    // "7|A||" + text: SND_UD, the first byte the CI.
    Bytes Send(uint8_t A, std::string_view text, int baud = 2400) {
        const Bytes bytes = Hex(text);
        return Exchange(LongFrame(0x53, A, bytes.at(0), Bytes(bytes.begin() + 1, bytes.end())), baud);
    }
    // "8||Standard: ...|" with the eight bytes behind the CI.
    Bytes Select(std::string_view bytes, int baud = 2400) { return Exchange(Selection(Hex(bytes)), baud); }

    // The slave as it is now (the bus runs on this thread only).
    const VirtualSlave& At(std::size_t i) {
        const VirtualSlave* s = nullptr;
        bus.WithSlave(i, [&](VirtualSlave& v) { s = &v; });
        return *s;
    }
    template <class M>
    M& Model(std::size_t i) {
        M* m = nullptr;
        bus.WithSlave(i, [&](VirtualSlave& v) { m = v.module.As<M>(); });
        EXPECT_NE(m, nullptr);
        return *m;
    }

    SimBus bus;
    bool fcb_ = false;
};

const Bytes kAck{0xE5};

// ---------------------------------------------------------------------------
// Answers

TEST_F(ModuleTest, EveryVariantShowsAddressIdMakerVersionStatusFirmwareAndMediumWhereTheProgramCutsThem) {
    const struct {
        const char* line;
        uint8_t address;
        const char* header;
    } rows[] = {
        {"module=pulse man=VND primary=1 id=11223344 firmware=13", 1,
         "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|"},
        {"module=pulse man=KTR primary=9 id=11223344 signature=4213", 9,
         "030101" "08" "09" "72" "11223344" "KTR" "05" ".." "00" "4213" "07" "Water|"},
        {"module=analog man=VND primary=17 id=00000042 firmware=00", 17,
         "030101" "08" "11" "72" "00000042" "VND" "96" ".." "00" "0000" "19" "A/D_Converter|"},
        {"module=analog man=KTR primary=3 id=33445566 firmware=21", 3,
         "030101" "08" "03" "72" "33445566" "KTR" "15" ".." "00" "0021" "19" "A/D_Converter|"},
        {"module=control man=VND primary=250 id=99999999 firmware=10", 250,
         "030101" "08" "FA" "72" "99999999" "VND" "97" ".." "00" "0010" "0E" "Bus/System|"},
        {"module=control man=KTR primary=2 id=22334455 firmware=12", 2,
         "030101" "08" "02" "72" "22334455" "KTR" "35" ".." "00" "0012" "0E" "Bus/System|"},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave(r.line));
        EXPECT_EQ(HeaderOf(Hex2(Read(r.address))), r.header) << r.line;
    }
}

TEST_F(ModuleTest, PulseReadAtItsAddressOrAtBroadcastCarriesBothInputs) {
    bus.AddSlave(Slave(kPulse));
    const std::string both =
        "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|"
        ZEROS "060013" "|10000|"
        ZEROS "02008628" "|266|"
        "00000001" "00000000" "0000000000000000" "060006" "|125|"
        "00000001" "00000000" "0000000000000000" "02008628" "|513|"
        "00000001" "00000000" "0000000000000000" "070079" "|186153659386984328|";
    EXPECT_EQ(Hex2(Read(1)), both);
    EXPECT_EQ(Hex2(Read(254)), both);
}

TEST_F(ModuleTest, PulseSelectedByAnInputsAddressAnswersForThatInputAlone) {
    bus.AddSlave(Slave(kPulse));
    const struct {
        const char* selection;
        int input;
        const char* answer;
    } rows[] = {
        {"44 33 22 11 C4 59 95 07", 1,
         "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|"
         ZEROS "060013" "|10000|" ZEROS "02008628" "|266|"},
        {"88 77 66 55 C4 59 95 02", 2,
         "030101" "08" "01" "72" "55667788" "VND" "95" ".." "01" "0013" "02" "Electricity|"
         ZEROS "060006" "|125|" ZEROS "02008628" "|513|"},
        {"FF FF 66 55 FF FF FF FF", 2,  // wildcards as for any slave
         "030101" "08" "01" "72" "55667788" "VND" "95" ".." "01" "0013" "02" "Electricity|"
         ZEROS "060006" "|125|" ZEROS "02008628" "|513|"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Select(r.selection), kAck) << r.selection;
        EXPECT_EQ(Model<PulseModule>(0).SelectedInput(), r.input);
        EXPECT_EQ(Hex2(Read(253)), r.answer) << r.selection;
        EXPECT_EQ(Exchange(ShortFrame(0x40, 253)), kAck);  // deselect
        EXPECT_EQ(Model<PulseModule>(0).SelectedInput(), 0);
        EXPECT_TRUE(Read(253).empty());
    }
    // Another manufacturer, version or medium selects neither input.
    EXPECT_TRUE(Select("44 33 22 11 92 2E 95 07").empty());
    EXPECT_TRUE(Select("44 33 22 11 C4 59 05 07").empty());
    EXPECT_TRUE(Select("88 77 66 55 C4 59 95 07").empty());
}

TEST_F(ModuleTest, PulseWithInput2DisabledCarriesInput1AloneAndIgnoresInput2sSelection) {
    VirtualSlave pulse = Slave(kPulse);
    pulse.module.As<PulseModule>()->Input(2).medium = PulseModule::kDisabled;
    bus.AddSlave(pulse);
    EXPECT_EQ(Hex2(Read(1)), "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|"
                             ZEROS "060013" "|10000|" ZEROS "02008628" "|266|");
    EXPECT_TRUE(Select("88 77 66 55 FF FF FF FF").empty());
    EXPECT_TRUE(Select("88 77 66 55 C4 59 95 1F").empty());
}

TEST_F(ModuleTest, PulseAnswersAMaskMatchingBothInputsOnceSoASearchFindsTwoDevices) {
    bus.AddSlave(Slave(kPulse));
    EXPECT_EQ(Select("FF FF FF FF C4 59 FF FF"), kAck);
    EXPECT_EQ(bus.Counters().collisions, 0u);
    EXPECT_EQ(Hex2(Read(253)).substr(12, 8), "11223344");
    // The masks of the search's first digit each find one input.
    EXPECT_EQ(Select("FF FF FF 1F C4 59 FF FF"), kAck);
    EXPECT_EQ(Hex2(Read(253)).substr(12, 17), "11223344VND95..00");
    EXPECT_EQ(Select("FF FF FF 5F C4 59 FF FF"), kAck);
    EXPECT_EQ(Hex2(Read(253)).substr(12, 17), "55667788VND95..01");
    EXPECT_TRUE(Select("FF FF FF 2F C4 59 FF FF").empty());
}

TEST_F(ModuleTest, PulseCounterIsRawTimesFactorTruncated) {
    bus.AddSlave(Slave("module=pulse primary=1 count1=1001 factor1=2/3 count2=100 factor2=255/127"));
    const std::string answer = Hex2(Read(1));
    EXPECT_NE(answer.find(ZEROS "060013" "|667|"), std::string::npos) << answer;                   // 1001 x 2 / 3
    EXPECT_NE(answer.find("0000000000000000" "060013" "|200|"), std::string::npos) << answer;       // 100 x 255 / 127
    EXPECT_NE(answer.find("0000000000000000" "02008628" "|32767|"), std::string::npos) << answer;   // 255 + 256 x 127
}

TEST_F(ModuleTest, ControlAnswerCarriesEightRecordsInTheProgramsOrder) {
    bus.AddSlave(Slave(kControl));
    EXPECT_EQ(Hex2(Read(2)),
              "030101" "08" "02" "72" "22334455" "KTR" "35" ".." "00" "0012" "0E" "Bus/System|"
              ZEROS "0100FD1B" "|1|"
              ZEROS "0100FD1A" "|1|"
              "00000000" "00000000" "0000000000000001" "0100FD1A" "|1|"
              "00000000" "00000000" "0000000000000002" "0200FD1A" "|202|"
              "00000001" "00000000" "0000000000000000" "0100FD1B" "|0|"
              "00000001" "00000000" "0000000000000000" "0100FD1A" "|1|"
              "00000001" "00000000" "0000000000000001" "0100FD1A" "|1|"
              "00000001" "00000000" "0000000000000002" "0200FD1A" "|0|");
}

TEST_F(ModuleTest, AnalogMeasurementTelegramIsTheNormalAnswer) {
    bus.AddSlave(Slave(kAnalog));
    EXPECT_EQ(Hex2(Read(3)),
              "030101" "08" "03" "72" "33445566" "VND" "96" ".." "00" "0011" "19" "A/D_Converter|"
              ZEROS "05003B" "|5.040000e+02|"
              "00000001" "00000000" "0000000000000000" "05002B" "|2.500000e+02|"
              "00000002" "00000000" "0000000000000000" "050067" "|2.150000e+01|"
              ZEROS "05023B" "|5.040000e+02|"
              ZEROS "05013B" "|5.040000e+02|"
              "00000000" "00000000" "0000000000000001" "05003B" "|5.040000e+02|");
}

TEST_F(ModuleTest, AnalogParameterTelegramFollowsAnApplicationResetWith08) {
    bus.AddSlave(Slave(kAnalog + std::string(" v1=0000000013D2 v2=000000000001")));
    EXPECT_EQ(Send(3, "50 08"), kAck);
    EXPECT_EQ(Hex2(Read(3)),
              "030101" "08" "03" "72" "33445566" "VND" "96" ".." "00" "0011" "19" "A/D_Converter|"
              "000000000000000000000000000000000100FD0B" "|1|"
              ZEROS "0300BB28" "|262657|"
              "00000001" "00000000" "0000000000000000" "0300AB28" "|257|"
              "00000003" "00000000" "0000000000000000" "0200FD56" "|12000|"
              "00000002" "00000000" "0000000000000000" "0600E628" "|5074|"
              "00000002" "00000000" "0000000000000001" "0600E628" "|1|");
}

TEST_F(ModuleTest, AnalogTelegramSwitchesOnApplicationResetAndSndNke) {
    bus.AddSlave(Slave(kAnalog));
    const std::string parameterSet = "000000000000000000000000000000000100FD0B";
    const struct {
        Bytes frame;
        bool acknowledged;
        bool parameters;
    } rows[] = {
        {LongFrame(0x53, 3, 0x50, Hex("08")), true, true},
        {LongFrame(0x53, 3, 0x50, Hex("00")), true, false},
        {LongFrame(0x53, 254, 0x50, Hex("08")), true, true},
        {ControlFrame(0x53, 3, 0x50), true, false},  // no subcode
        {LongFrame(0x53, 3, 0x50, Hex("08")), true, true},
        {ShortFrame(0x40, 3), true, false},
        {LongFrame(0x53, 3, 0x50, Hex("08")), true, true},
        {LongFrame(0x53, 3, 0x50, Hex("10")), true, false},  // another subcode: the normal answer
        {LongFrame(0x53, 3, 0x50, Hex("08")), true, true},
        {LongFrame(0x53, 4, 0x50, Hex("00")), false, true},  // another slave's reset
        {ShortFrame(0x40, 255), false, false},                // a reset of all, without answer
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Exchange(r.frame), r.acknowledged ? kAck : Bytes{}) << HexText(r.frame);
        EXPECT_EQ(Model<AnalogModule>(0).ParameterTelegram(), r.parameters) << HexText(r.frame);
        const std::string answer = Hex2(Read(3));
        const std::string first = answer.substr(answer.find('|') + 1, parameterSet.size());
        EXPECT_EQ(first == parameterSet, r.parameters) << HexText(r.frame) << " " << answer;
    }
}

TEST_F(ModuleTest, AnalogKeepsMinimumMaximumAndAverageOfTheChosenInput) {
    bus.AddSlave(Slave(kAnalog));
    EXPECT_EQ(Send(3, "51 01 FD 0B 41"), kAck);  // PT1000, min/max of A2
    const struct {
        int32_t x2;
        const char* last3;
    } rows[] = {
        {100, "00000001" "00000000" "0000000000000000" "05022B" "|1.000000e+02|"
              "00000001" "00000000" "0000000000000000" "05012B" "|1.000000e+02|"
              "00000001" "00000000" "0000000000000001" "05002B" "|1.000000e+02|"},
        {300, "00000001" "00000000" "0000000000000000" "05022B" "|1.000000e+02|"
              "00000001" "00000000" "0000000000000000" "05012B" "|3.000000e+02|"
              "00000001" "00000000" "0000000000000001" "05002B" "|2.000000e+02|"},
        {200, "00000001" "00000000" "0000000000000000" "05022B" "|1.000000e+02|"
              "00000001" "00000000" "0000000000000000" "05012B" "|3.000000e+02|"
              "00000001" "00000000" "0000000000000001" "05002B" "|2.000000e+02|"},
    };
    for (const auto& r : rows) {
        Model<AnalogModule>(0).AnalogInput(2).raw = r.x2;
        const std::string answer = Hex2(Read(3));
        const std::string last3 = r.last3;
        ASSERT_GE(answer.size(), last3.size());
        EXPECT_EQ(answer.substr(answer.size() - last3.size()), last3) << r.x2;
    }
    // The temperature input as the min/max input: the mode byte's 80h; the statistics start again.
    EXPECT_EQ(Send(3, "51 01 FD 0B 81"), kAck);
    const std::string answer = Hex2(Read(3));
    EXPECT_NE(answer.find("00000002" "00000000" "0000000000000000" "050267" "|2.150000e+01|"), std::string::npos)
        << answer;
    EXPECT_EQ(Model<AnalogModule>(0).Stats().count, 1u);
}

// ---------------------------------------------------------------------------
// Writes

TEST_F(ModuleTest, PulseRecordTextsChangeOnlyWhatTheyAreMeantFor) {
    const std::string before =
        "primary 1; 1: 11223344 medium 07 unit 13 raw 1000 factor 10/1; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2";
    const struct {
        const char* action;
        const char* text;
        const char* after;
    } rows[] = {
        {"write serial number, input 1",
         "01 7A FF 07 79 66778899 C4 59 95 04 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF",
         "primary 1; 1: 99887766 medium 04 unit 06 raw 1000 factor 10/1; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2"},
        {"write all, input 1",
         "01 7A FF 07 79 44332211 C4 59 95 07 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 0502 82 40 86 28 00 00 06 "
         "16800200000000 86 40 06 FF FF FF FF FF FF",
         "primary 1; 1: 11223344 medium 07 unit 16 raw 640 factor 5/2; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2"},
        {"write serial number, input 2",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 12121212 C4 59 95 1F 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 13 FF FF FF FF FF FF",
         "primary 1; 1: 11223344 medium 07 unit 13 raw 1000 factor 10/1; 2: 12121212 medium 1F unit 13 raw 250 factor 1/2"},
        {"write all, input 2",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 88776655 C4 59 95 02 02 86 28 00 00 82 40 86 280301 06 06 "
         "FF FF FF FF FF FF 86 4006E80300000000",
         "primary 1; 1: 11223344 medium 07 unit 13 raw 1000 factor 10/1; 2: 55667788 medium 02 unit 06 raw 1000 factor 3/1"},
        {"optical-head request",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF",
         before.c_str()},
        {"set module address",
         "01 7A 07 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF",
         "primary 7; 1: 11223344 medium 07 unit 13 raw 1000 factor 10/1; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2"},
        {"factors out of range are clamped", "02 86 28 00 C8 82 40 86 28 FF 00",
         "primary 1; 1: 11223344 medium 07 unit 13 raw 1000 factor 1/127; 2: 55667788 medium 02 unit 06 raw 250 factor 255/1"},
        {"a counter of FF bytes keeps the count, not the unit", "07 79 44332211 C4 59 95 07 06 03 FF FF FF FF FF FF",
         "primary 1; 1: 11223344 medium 07 unit 03 raw 1000 factor 10/1; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2"},
        {"an identification number that is no BCD is refused", "07 79 4433221A C4 59 95 FF 06 03 10 00 00 00 00 00",
         "primary 1; 1: 11223344 medium 07 unit 03 raw 16 factor 10/1; 2: 55667788 medium 02 unit 06 raw 250 factor 1/2"},
        {"a counter without the input's address changes nothing", "06 03 10 00 00 00 00 00 86 40 03 10 00 00 00 00 00",
         before.c_str()},
        {"address 253 and above are no primary address", "01 7A FD", before.c_str()},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave(kPulse));
        ASSERT_EQ(PulseState(At(0)), before);
        EXPECT_EQ(Send(1, std::string("51 ") + r.text), kAck) << r.action;
        EXPECT_EQ(PulseState(At(0)), r.after) << r.action;
    }
}

TEST_F(ModuleTest, ControlRecordTextsSetCommandsAndConfigurations) {
    const struct {
        const char* action;
        const char* text;
        const char* after;
    } rows[] = {
        {"R1 Set 1",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A 01 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF",
         "R1 configuration 0 commanded 1 output 1; R2 configuration 0 commanded 1 output 1"},
        {"R1 Set 0",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A 00 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF",
         "R1 configuration 0 commanded 0 output 0; R2 configuration 0 commanded 1 output 1"},
        {"R1 write, #P1 XOR #P2 with power-fail 0",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A D7 C1 40 FD 1A FF 81 41 FD 1A FF",
         "R1 configuration 215 commanded 0 output 0; R2 configuration 0 commanded 1 output 1"},
        {"R2 Set 0",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A 00 81 41 FD 1A FF",
         "R1 configuration 0 commanded 0 output 0; R2 configuration 0 commanded 0 output 0"},
        {"R2 Set 1",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A 01 81 41 FD 1A FF",
         "R1 configuration 0 commanded 0 output 0; R2 configuration 0 commanded 1 output 1"},
        {"R2 write, P1 AND P2 with power-fail 1",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A 65",
         "R1 configuration 0 commanded 0 output 0; R2 configuration 101 commanded 0 output 0"},
        {"a command other than 0, 1 and FF changes nothing",
         "41 FD 1A 02 C1 40 FD 1A 80", "R1 configuration 0 commanded 0 output 0; R2 configuration 0 commanded 1 output 1"},
        {"a configuration and a command in one telegram",
         "81 01 FD 1A 01 41 FD 1A 01", "R1 configuration 1 commanded 0 output 0; R2 configuration 0 commanded 1 output 1"},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave("module=control man=KTR primary=2 r2=1"));  // P1 = P2 = 0
        EXPECT_EQ(Send(2, std::string("51 ") + r.text), kAck) << r.action;
        EXPECT_EQ(ControlState(At(0)), r.after) << r.action;
    }
}

TEST_F(ModuleTest, ControlConfigurationOf204ReadsAsWritten) {
    bus.AddSlave(Slave("module=control primary=2"));
    EXPECT_EQ(Send(2, "51 01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A CC C1 40 FD 1A FF 81 41 FD 1A D7"),
              kAck);
    const std::string answer = Hex2(Read(2));
    EXPECT_NE(answer.find("00000000" "00000000" "0000000000000002" "0200FD1A" "|204|"), std::string::npos) << answer;
    EXPECT_NE(answer.find("00000001" "00000000" "0000000000000002" "0200FD1A" "|215|"), std::string::npos) << answer;
}

TEST_F(ModuleTest, ControlRelayDrivenByLogicFollowsItsInputs) {
    bus.AddSlave(Slave("module=control primary=2"));
    const struct {
        int code;
        bool p1, p2;
        const char* r1;  // the data parts of records 2 and 3
    } rows[] = {
        {1, false, true, "|0|...|0|"},  {1, true, true, "|1|...|1|"},   // P1 AND P2
        {2, false, false, "|0|...|0|"}, {2, false, true, "|1|...|1|"},  // P1 OR P2
        {3, true, true, "|0|...|0|"},   {3, true, false, "|1|...|1|"},  // P1 XOR P2
        {5, false, true, "|1|...|1|"},  {5, true, true, "|0|...|0|"},   // #P1 AND P2
        {10, false, false, "|1|...|1|"}, {10, false, true, "|0|...|0|"},  // P1 OR #P2
        {15, false, false, "|0|...|0|"}, {15, true, false, "|1|...|1|"},  // #P1 XOR #P2
    };
    for (const auto& r : rows) {
        ControlModule& c = Model<ControlModule>(0);
        c.SetConfiguration(1, static_cast<uint8_t>(r.code));
        c.SetInput(1, r.p1);
        c.SetInput(2, r.p2);
        const std::string answer = Hex2(Read(2));
        const std::size_t at = answer.find("0100FD1A");  // record 2, then record 3
        ASSERT_NE(at, std::string::npos);
        const std::string r2 = answer.substr(at + 8, 3);
        const std::size_t at3 = answer.find("0100FD1A", at + 8);
        const std::string r3 = answer.substr(at3 + 8, 3);
        EXPECT_EQ(r2 + "..." + r3, r.r1) << "code " << r.code << " P1 " << r.p1 << " P2 " << r.p2;
    }
    // A command to it is ignored: its commanded state mirrors its output.
    EXPECT_EQ(Send(2, "51 41 FD 1A 00"), kAck);
    EXPECT_EQ(ControlState(At(0)), "R1 configuration 15 commanded 1 output 1; R2 configuration 0 commanded 0 output 0");
}

TEST_F(ModuleTest, ControlInvalidLogicCodesLeaveTheRelayOnTheMBus) {
    for (int code : {4, 8, 12, 16, 99}) {
        bus.ClearSlaves();
        bus.AddSlave(Slave("module=control primary=2 p1=1 p2=1"));
        char text[40];
        std::snprintf(text, sizeof text, "51 81 01 FD 1A %02X 41 FD 1A 01", code);
        EXPECT_EQ(Send(2, text), kAck);
        const ControlModule::Relay& r1 = Model<ControlModule>(0).RelayState(1);
        EXPECT_EQ(r1.configuration, code);
        EXPECT_TRUE(r1.commanded) << code;
        EXPECT_TRUE(r1.output) << code;
    }
}

TEST_F(ModuleTest, ControlPowerFailureAppliesEachRelaysPowerFailCode) {
    const struct {
        const char* line;
        const char* after;
    } rows[] = {
        {"module=control r1=0 r1fail=1 r2=1 r2fail=2",
         "R1 configuration 100 commanded 1 output 1; R2 configuration 200 commanded 0 output 0"},
        {"module=control r1=1 r1fail=0 r2=0 r2fail=0",
         "R1 configuration 0 commanded 1 output 1; R2 configuration 0 commanded 0 output 0"},
        // A relay driven by logic follows its inputs again as soon as the power is back.
        {"module=control p1=1 r1logic=2 r1fail=2", "R1 configuration 202 commanded 1 output 1; R2 configuration 0 commanded 0 output 0"},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave(r.line));
        Model<ControlModule>(0).PowerFail();
        EXPECT_EQ(ControlState(At(0)), r.after) << r.line;
    }
}

TEST_F(ModuleTest, ControlStuckRelayReadsDifferentlyInItsTwoRecords) {
    bus.AddSlave(Slave("module=control primary=2 r2=1"));
    Model<ControlModule>(0).SetStuck(2, false);
    const std::string answer = Hex2(Read(2));
    EXPECT_NE(answer.find("00000001" "00000000" "0000000000000000" "0100FD1A" "|0|"
                          "00000001" "00000000" "0000000000000001" "0100FD1A" "|1|"),
              std::string::npos)
        << answer;
    Model<ControlModule>(0).SetStuck(2, std::nullopt);
    EXPECT_TRUE(Model<ControlModule>(0).RelayState(2).output);
}

TEST_F(ModuleTest, AnalogRecordTextsSetTheirBlocksAndLeaveTheOthers) {
    const std::string before =
        "primary 3 id 33445566 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 12000; V1 000000000000 V2 "
        "000000000000";
    const struct {
        const char* action;
        const char* text;
        const char* after;
    } rows[] = {
        {"write A1",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 41 03 93 28 0A FE 05 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF ",
         "primary 3 id 33445566 medium 19; mode 41; A1 unit 13 10/-2/5; A2 unit 2B 1/1/0; current 12000; V1 000000000000 "
         "V2 000000000000"},
        {"write A2",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 82 03 FE 28 00 00 00 83 40 C4 28 FF 80 7F 82 C0 40 FD 56 FF FF ",
         "primary 3 id 33445566 medium 19; mode 82; A1 unit 3B 1/2/4; A2 unit 44 255/-128/127; current 12000; V1 "
         "000000000000 V2 000000000000"},
        {"write A2 with no unit change",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 01 03 FE 28 00 00 00 83 40 FE 28 03 01 00 82 C0 40 FD 56 FF FF ",
         "primary 3 id 33445566 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 3/1/0; current 12000; V1 000000000000 V2 "
         "000000000000"},
        {"write current output, 20 mA",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 01 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 20 4E ",
         "primary 3 id 33445566 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 20000; V1 000000000000 V2 "
         "000000000000"},
        {"a current beyond the output is clamped",
         "82 C0 40 FD 56 E8 03 ",
         "primary 3 id 33445566 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 4000; V1 000000000000 V2 "
         "000000000000"},
        {"write temperature, calibration records",
         "86 80 40 E6 28 D2 13 00 00 00 00 C6 80 40 E6 28 01 00 00 00 00 F0 ",
         "primary 3 id 33445566 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 12000; V1 0000000013D2 V2 "
         "F00000000001"},
        {"write temperature, parameter set",
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 01 FD 0B 02 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF ",
         "primary 3 id 33445566 medium 19; mode 02; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 12000; V1 000000000000 V2 "
         "000000000000"},
        {"calibration values of FF bytes stay",
         "86 80 40 E6 28 FF FF FF FF FF FF C6 80 40 E6 28 FF FF FF FF FF FF", before.c_str()},
        {"set module address",
         "01 7A 05 07 79 44332211 C4 59 96 19" "01 FD 0B FF 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF",
         "primary 5 id 11223344 medium 19; mode 01; A1 unit 3B 1/2/4; A2 unit 2B 1/1/0; current 12000; V1 000000000000 "
         "V2 000000000000"},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave(kAnalog));
        ASSERT_EQ(AnalogState(At(0)), before);
        EXPECT_EQ(Send(3, std::string("51 ") + r.text), kAck) << r.action;
        EXPECT_EQ(AnalogState(At(0)), r.after) << r.action;
    }
}

TEST_F(ModuleTest, AddressSettingTakesEffectForTheNextRequest) {
    const struct {
        const char* line;
        uint8_t from;
        const char* text;
        const char* header;
    } rows[] = {
        {kPulse, 1,
         "51 01 7A 07 07 79 FF FF FF FF FF FF FF FF 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 "
         "06 FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF",
         "030101" "08" "07" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|"},
        {kControl, 2,
         "51 01 7A 07 07 79 44332211 C4 59 97 0E" "41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF",
         "030101" "08" "07" "72" "11223344" "KTR" "35" ".." "00" "0012" "0E" "Bus/System|"},
        {kAnalog, 3,
         "51 01 7A 07 07 79 44332211 C4 59 96 19" "01 FD 0B FF 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF",
         "030101" "08" "07" "72" "11223344" "VND" "96" ".." "00" "0011" "19" "A/D_Converter|"},
    };
    for (const auto& r : rows) {
        bus.ClearSlaves();
        bus.AddSlave(Slave(r.line));
        EXPECT_EQ(Send(r.from, r.text), kAck) << r.line;
        EXPECT_EQ(HeaderOf(Hex2(Read(7))), r.header) << r.line;
        EXPECT_TRUE(Read(r.from).empty()) << r.line;
    }
}

TEST_F(ModuleTest, ReadAfterAWriteIsFreshEvenWithTheFcbOfTheReadBefore) {
    bus.AddSlave(Slave(kControl));
    const std::string first = Hex2(Exchange(ShortFrame(0x7B, 2)));
    EXPECT_EQ(Exchange(ShortFrame(0x7B, 2)), Exchange(ShortFrame(0x7B, 2)));  // a repetition: the same bytes
    EXPECT_EQ(Send(2, "51 C1 40 FD 1A 00"), kAck);
    const std::string after = Hex2(Exchange(ShortFrame(0x7B, 2)));
    EXPECT_NE(first, after);
    EXPECT_NE(after.find("00000001" "00000000" "0000000000000001" "0100FD1A" "|0|"), std::string::npos) << after;
}

TEST_F(ModuleTest, WritesToOtherAddressesOrBroadcastWithoutAnswer) {
    bus.AddSlave(Slave(kControl));
    EXPECT_TRUE(Send(9, "51 41 FD 1A 00").empty());
    EXPECT_TRUE(Model<ControlModule>(0).RelayState(2).commanded);
    EXPECT_TRUE(Send(255, "51 C1 40 FD 1A 00").empty());  // acted on, not answered
    EXPECT_FALSE(Model<ControlModule>(0).RelayState(2).commanded);
    EXPECT_EQ(Send(254, "51 C1 40 FD 1A 01"), kAck);
    EXPECT_TRUE(Model<ControlModule>(0).RelayState(2).commanded);
}

// ---------------------------------------------------------------------------
// Converter and transceiver

TEST_F(ModuleTest, ConverterTakesOnlyItsOwnSelectionThenTheBaudSwitchAndTheDeselection) {
    bus.AddSlave(Slave("module=converter"));
    const struct {
        Bytes frame;
        bool acknowledged;
        bool selected;
    } rows[] = {
        {ShortFrame(0x7B, 253), false, false},
        {ControlFrame(0x53, 253, 0xBB), false, false},          // not selected yet
        {Selection(Hex("FF FF FF FF C4 59 FF FF")), false, false},  // a search mask never finds it
        {Selection(Hex("FF FF FF FF C4 59 90 FF")), false, false},
        {Selection(Hex("FF FF FF FF C4 59 FF 0E")), false, false},
        {Selection(Hex("FF FF FF FF 92 2E 90 0E")), false, false},  // another maker's converter
        {Selection(Hex("FF FF FF FF C4 59 90 0E")), true, true},
        {ShortFrame(0x7B, 253), false, true},  // it never answers a read
        {ControlFrame(0x53, 253, 0xBF), true, true},
        {ShortFrame(0x40, 253), true, false},
        {ShortFrame(0x40, 253), false, false},
        {ControlFrame(0x53, 253, 0xB8), false, false},
    };
    int step = 0;
    for (const auto& r : rows) {
        ++step;
        EXPECT_EQ(Exchange(r.frame), r.acknowledged ? kAck : Bytes{}) << "step " << step;
        EXPECT_EQ(Model<LevelConverter>(0).Selected(), r.selected) << "step " << step;
    }
    EXPECT_EQ(Model<LevelConverter>(0).RequestedBaud(), 38400);
    EXPECT_EQ(Model<LevelConverter>(0).BaudSwitches(), 1);
}

TEST_F(ModuleTest, ConverterHearsEveryRateAndLeavesTheModulesAlone) {
    bus.AddSlave(Slave("module=converter"));
    bus.AddSlave(Slave(kPulse));
    for (int baud : {300, 2400, 9600, 38400}) {
        EXPECT_EQ(Exchange(Selection(Hex("FF FF FF FF C4 59 90 0E")), baud), kAck) << baud;
        EXPECT_EQ(Exchange(ControlFrame(0x53, 253, 0xBB), baud), kAck) << baud;
        EXPECT_EQ(Exchange(ShortFrame(0x40, 253), baud), kAck) << baud;
    }
    EXPECT_EQ(Model<LevelConverter>(0).RequestedBaud(), 2400);
    EXPECT_EQ(Model<PulseModule>(1).SelectedInput(), 0);
    EXPECT_EQ(bus.Counters().collisions, 0u);
}

TEST_F(ModuleTest, TransceiverCommandMakesTheModulesReachableAt38400) {
    bus.AddSlave(Slave(kPulse));
    bus.AddSlave(Slave("module=transceiver"));
    bus.AddSlave(Slave("primary=4 id=44556677 man=QXA medium=07 records=0413E8030000"));
    EXPECT_TRUE(Read(1, 38400).empty());
    EXPECT_FALSE(Model<OpticalTransceiver>(1).Engaged());
    // The optical connection's lines: the command at 9600, then everything at 38400.
    EXPECT_EQ(Send(251, "51 0F 48 08", 9600), kAck);
    EXPECT_TRUE(Model<OpticalTransceiver>(1).Engaged());
    EXPECT_EQ(Model<OpticalTransceiver>(1).LastCommand(), Hex("51 0F 48 08"));
    EXPECT_EQ(HeaderOf(Hex2(Read(1, 38400))), "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07" "Water|");
    EXPECT_EQ(Send(254, "51 01 7A 08", 38400), kAck);  // a write over the transceiver
    EXPECT_EQ(At(0).values.primaryAddress, 8);
    EXPECT_FALSE(Read(8, 2400).empty());  // its own rate still works
    // An ordinary meter is not behind the transceiver.
    EXPECT_TRUE(Read(4, 38400).empty());
    EXPECT_FALSE(Read(4, 2400).empty());
    // The search's command and any rate are acknowledged, other requests not.
    EXPECT_EQ(Send(251, "51 0F 58 08", 38400), kAck);
    EXPECT_EQ(Send(251, "51 0F 58 08", 300), kAck);
    EXPECT_EQ(Model<OpticalTransceiver>(1).Commands(), 3);
    EXPECT_TRUE(Read(251).empty());
    EXPECT_TRUE(Exchange(ShortFrame(0x40, 251)).empty());
}

TEST_F(ModuleTest, TransceiverAcknowledgesOtherDataWithoutRelaying) {
    bus.AddSlave(Slave(kPulse));
    bus.AddSlave(Slave("module=transceiver"));
    EXPECT_EQ(Send(251, "51 0F 11 22"), kAck);
    EXPECT_FALSE(Model<OpticalTransceiver>(1).Engaged());
    EXPECT_TRUE(Read(1, 38400).empty());
}

// ---------------------------------------------------------------------------
// The record walk of writes, and writes of arbitrary bytes

std::string Summary(const std::vector<DataRecord>& records) {
    std::string text;
    for (const DataRecord& r : records) {
        char part[64];
        std::snprintf(part, sizeof part, "%s%02X s%llu t%u u%u ", text.empty() ? "" : " | ", r.dif,
                      static_cast<unsigned long long>(r.storage), r.tariff, r.subunit);
        text += part + HexText(r.vib) + " : " + HexText(r.value);
    }
    return text;
}

TEST(DataRecordWalkTest, RecordsAreCutByTheirCodingAndAMalformedRestIsIgnored) {
    const struct {
        const char* data;
        const char* records;
    } rows[] = {
        {"01 7A FF", "01 s0 t0 u0 7A : FF"},
        {"81 41 FD 1A 05", "81 s2 t0 u1 FD 1A : 05"},
        {"86 80 40 E6 28 01 02 03 04 05 06", "86 s0 t0 u2 E6 28 : 01 02 03 04 05 06"},
        {"82 C0 40 FD 56 A0 0F 2F 2F 01 FD 0B 40", "82 s0 t0 u3 FD 56 : A0 0F | 01 s0 t0 u0 FD 0B : 40"},
        {"C4 90 01 13 01 02 03 04", "C4 s33 t1 u0 13 : 01 02 03 04"},
        {"0D 13 03 41 42 43 02 13 01 00", "0D s0 t0 u0 13 : 03 41 42 43 | 02 s0 t0 u0 13 : 01 00"},
        {"04 7C 02 6B 67 01 00 00 00", "04 s0 t0 u0 7C 02 6B 67 : 01 00 00 00"},
        {"04 FC 02 6B 67 3B 01 00 00 00", "04 s0 t0 u0 FC 02 6B 67 3B : 01 00 00 00"},  // text, then the VIFEs
        {"08 13 01 13 07", "08 s0 t0 u0 13 :  | 01 s0 t0 u0 13 : 07"},  // a selection for readout has no data
        {"01 7A FF 06 06 FF FF", "01 s0 t0 u0 7A : FF"},                  // cut off
        {"01 7A FF 0F 01 7A 05", "01 s0 t0 u0 7A : FF"},                  // manufacturer data
        {"01 7A FF 3F 01 7A 05", "01 s0 t0 u0 7A : FF"},                  // a special function
        {"0D 13 FB 00", ""},                                             // a reserved LVAR
        {"81 80 80 80 80 80 80 80 80 80 80 00 7A 01", ""},                // eleven DIFEs
        {"01 FD 80 80 80 80 80 80 80 80 80 80 00 01", ""},                // eleven VIFEs
        {"81", ""},
        {"01", ""},
        {"", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(Summary(ParseDataRecords(Hex(r.data))), r.records) << r.data;
}

TEST_F(ModuleTest, ArbitraryWritesKeepEveryModuleInItsRangesAndDecodable) {
    bus.AddSlave(Slave(kPulse));
    bus.AddSlave(Slave(kControl));
    bus.AddSlave(Slave(kAnalog));
    // Bytes that the module records are made of, so that many writes hit them.
    const Bytes alphabet = Hex("00 01 02 03 06 07 0B 13 1A 1B 28 40 41 56 79 7A 7C 80 81 82 83 86 87 C0 C1 C6 E6 FD FE FF");
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        Bytes data;
        const int n = static_cast<int>(random() % 40);
        for (int j = 0; j < n; ++j)
            data.push_back(random() % 4 == 0 ? static_cast<uint8_t>(random()) : alphabet[random() % alphabet.size()]);
        const uint8_t address = static_cast<uint8_t>(1 + random() % 3);
        Exchange(LongFrame(0x53, address, 0x51, data));
    }
    bus.WithSlave(0, [](VirtualSlave& s) {
        for (int n = 1; n <= 2; ++n) {
            const PulseInput& in = s.module.As<PulseModule>()->Input(n);
            EXPECT_TRUE(in.numerator >= 1 && in.denominator >= 1 && in.denominator <= 127);
            EXPECT_LT(in.raw, uint64_t{1} << 48);
            EXPECT_TRUE(UsableUnit(in.unit));
        }
    });
    bus.WithSlave(2, [](VirtualSlave& s) {
        const AnalogModule& a = *s.module.As<AnalogModule>();
        EXPECT_TRUE(a.Current() >= 4000 && a.Current() <= 20000);
        EXPECT_TRUE(UsableUnit(a.AnalogInput(1).unit) && UsableUnit(a.AnalogInput(2).unit));
        EXPECT_LT(a.V1(), uint64_t{1} << 48);
    });
    // Every module still answers with its records, wherever its address went.
    const std::pair<ModuleKind, int> expected[] = {{ModuleKind::kPulse, 2}, {ModuleKind::kControl, 8},
                                                   {ModuleKind::kAnalog, 6}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_LE(At(i).values.primaryAddress, 252);
        bus.WithSlave(i, [&](VirtualSlave& s) { s.values.primaryAddress = static_cast<uint8_t>(100 + i); });
        const auto t = Decode(Read(static_cast<uint8_t>(100 + i)));
        ASSERT_NE(t, nullptr) << i;
        EXPECT_GE(t->RecordCount(), expected[i].second) << ModuleKindText(expected[i].first);
    }
}

// ---------------------------------------------------------------------------
// The demo bus

TEST_F(ModuleTest, DemoBusHasEachVariantBothMakersMetersAndTheInterfaceDevices) {
    std::ifstream in(std::string(MBUS_SOURCE_DIR) + "/sim/demo/modules.txt");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> errors;
    const std::vector<VirtualSlave> slaves = ParseBusDescription(text.str(), errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    std::vector<std::string> seen;
    for (const VirtualSlave& s : slaves) {
        const auto kind = s.module.Kind();
        seen.push_back(kind ? std::string(ModuleKindText(*kind)) + " " + s.values.manufacturerText
                            : std::string("meter ") + s.values.manufacturerText);
        bus.AddSlave(s);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Pulse VND", "Control KTR", "Analog VND", "meter QXA", "meter KMX",
                                              "level converter VND", "optical transceiver VND"}));
    EXPECT_EQ(Hex2(Read(1)).substr(0, 35), "030101" "08" "01" "72" "11223344" "VND" "95" ".." "00" "0013" "07");
    EXPECT_EQ(Hex2(Read(2)).substr(0, 35), "030101" "08" "02" "72" "22334455" "KTR" "35" ".." "00" "0012" "0E");
    EXPECT_EQ(Hex2(Read(3)).substr(0, 35), "030101" "08" "03" "72" "33445566" "VND" "96" ".." "00" "0011" "19");
}

}  // namespace
}  // namespace mbus::sim::test
