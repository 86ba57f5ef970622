// mbusctl decode: formats, options and messages for bad input.

#include <gtest/gtest.h>

#include <sstream>

#include "control/decode/options.h"
#include "tools/mbusctl/decode_command.h"
#include "tools/mbusctl/hex_input.h"

namespace mbus::cli {
namespace {

// One record DIF 04h, VIF 13h, value 1234 in a CI 72h answer.
const char* kVolume = "68 15 15 68 08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 04 13 D2 04 00 00 F6 16";

struct RunResult {
    int rc;
    std::string out, err;
};

RunResult Decode(std::vector<std::string> args, const std::string& stdinText = "") {
    std::istringstream in(stdinText);
    std::ostringstream out, err;
    const int rc = RunDecode(args, in, out, err);
    MBusLanguage = 0;
    MBusOption.Reset();
    return {rc, out.str(), err.str()};
}

TEST(MbusctlDecode, Hex2PrintsTheCookedText) {
    const RunResult r = Decode({"--format", "hex2", kVolume});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "03010108017212345678QXA012A00000007Water|"
                     "00000000000000000000000000000000040013|1234|\n");
}

TEST(MbusctlDecode, JsonCarriesRecordsWithNormalisedValues) {
    const RunResult r = Decode({"--format", "json", kVolume});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("\"identNumber\":\"12345678\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"description\":\"Volume [l]\""), std::string::npos);
    EXPECT_NE(r.out.find("\"value\":\"1234\""), std::string::npos);
    // 1234 l are 1234e-3 m3, written exactly.
    EXPECT_NE(r.out.find("\"normalised\":{\"value\":1234e-3,\"unit\":\"m3\",\"quantityClass\":3,\"factor\":1e-3}"),
              std::string::npos);
}

TEST(MbusctlDecode, LanguageAndMultiplierOptions) {
    const RunResult german = Decode({"--language", "1", "--format", "hex", kVolume});
    EXPECT_NE(german.out.find("Wasser"), std::string::npos) << german.out;
    // VIF 14h "Volume 10 [l]" with 5: scaled to 50 [l], or kept with --keep-multiplier.
    const char* tenLitres = "68 15 15 68 08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 04 14 05 00 00 00 26 16";
    EXPECT_NE(Decode({"--format", "hex", tenLitres}).out.find("Volume [l]|50|"), std::string::npos);
    EXPECT_NE(Decode({"--keep-multiplier", "--format", "hex", tenLitres}).out.find("Volume 10 [l]|5|"),
              std::string::npos);
}

TEST(MbusctlDecode, ReadsOneTelegramPerLineFromStdin) {
    const RunResult r = Decode({"--format", "hex2"}, std::string("# comment\n\nE5\n") + kVolume + "\n");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
    EXPECT_EQ(r.out.substr(0, 6), "00FE01");
}

TEST(MbusctlDecode, BadInputGetsAClearMessageAndNonZeroExit) {
    const struct {
        std::vector<std::string> args;
        std::string stdinText;
        int rc;
        const char* message;
    } cases[] = {
        {{"68 1"}, "", 1, "odd number of hex digits (3)"},
        {{"68 1G"}, "", 1, "not a hex digit: 'G'"},
        {{}, "", 2, "no telegram given"},
        {{}, "# only a comment\n", 2, "no telegram given"},
        {{"--format", "xml", "E5"}, "", 2, "unknown format \"xml\""},
        {{"--language", "12", "E5"}, "", 2, "language \"12\" is not a number 0..9"},
        {{"--language"}, "", 2, "--language needs a value"},
        {{"--bogus", "E5"}, "", 2, "unknown option \"--bogus\""},
        {{"68 15 15 68 08 01 72 00 16"}, "", 1, "wrong length"},
        {{"10 5B 01 00 16"}, "", 1, "checksum wrong"},
    };
    for (const auto& c : cases) {
        const RunResult r = Decode(c.args, c.stdinText);
        EXPECT_EQ(r.rc, c.rc) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST(MbusctlDecode, ForceDecodesAFrameWithABadChecksum) {
    std::string bad = kVolume;
    bad.replace(bad.size() - 5, 2, "00");
    const RunResult r = Decode({"--force", "--format", "hex2", bad});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("|1234|"), std::string::npos);
    EXPECT_NE(r.err.find("decoded anyway"), std::string::npos);
}

TEST(MbusctlDecode, WalkWarningsGoToStderrAndLeaveStdoutAlone) {
    // kVolume with a second record that has two of its four value bytes.
    const char* truncated = "68 19 19 68 08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 04 13 D2 04 00 00 04 13 01 00 0E 16";
    const RunResult r = Decode({"--format", "hex2", truncated});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "03010108017212345678QXA012A00000007Water|"
                     "00000000000000000000000000000000040013|1234|\n");
    EXPECT_EQ(r.err, "warning: record 2: value runs past the end of the data (needs 4 bytes, 2 left)\n");
    EXPECT_EQ(Decode({"--format", "hex2", kVolume}).err, "");
}

TEST(MbusctlDecode, HelpAndSamples) {
    EXPECT_EQ(Decode({"--help"}).rc, 0);
    std::ostringstream out, err;
    EXPECT_EQ(RunSamples({}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Water"), std::string::npos);
}

TEST(HexInput, Forms) {
    EXPECT_EQ(ParseHexBytes("68 1f,1F\t68").bytes, (std::vector<uint8_t>{0x68, 0x1F, 0x1F, 0x68}));
    EXPECT_EQ(ParseHexBytes("E5E5").bytes.size(), 2u);
    EXPECT_NE(ParseHexBytes("6 8").error, "");
    EXPECT_NE(ParseHexBytes("   ").error, "");
}

}  // namespace
}  // namespace mbus::cli

// mbusctl exchange against an in-process simulated bus reached through the port map.
#include <filesystem>
#include <fstream>

#include "sim/bus_description.h"
#include "tools/mbusctl/exchange_command.h"

namespace mbus::cli {
namespace {

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::string> errors;
        for (auto& s : sim::ParseBusDescription("primary=5 id=12345678 man=QXA medium=07 records=0413D2040000", errors))
            bus->AddSlave(std::move(s));
        bus->SetPaced(false);
        serial::RegisterSimulatedBus("exchange-test", bus);
        std::ofstream(map) << "3 = sim:exchange-test\n";
        ::setenv("MBUS_PORT_MAP", map.c_str(), 1);
    }
    void TearDown() override {
        serial::UnregisterSimulatedBus("exchange-test");
        ::unsetenv("MBUS_PORT_MAP");
        std::filesystem::remove(map);
        MBusLanguage = 0;
        MBusOption.Reset();
    }
    RunResult Exchange(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int rc = RunExchange(args, out, err);
        return {rc, out.str(), err.str()};
    }
    std::shared_ptr<sim::SimBus> bus = std::make_shared<sim::SimBus>();
    std::string map = std::filesystem::temp_directory_path() / ("mbus-exchange-test-" + std::to_string(::getpid()));
};

TEST_F(ExchangeTest, ReadsASlaveAndReportsAnAbsentOne) {
    const RunResult r = Exchange({"--port", "3", "--format", "hex2", "--retries", "0", "5", "6"});
    EXPECT_EQ(r.rc, 1);  // address 6 did not answer
    EXPECT_NE(r.out.find("SND_NKE to 5: single character E5h"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("12345678QXA"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("|1234|"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("REQ_UD2 to 6: no valid answer (Timeout ERROR)"), std::string::npos) << r.out;
}

TEST_F(ExchangeTest, UsageErrors) {
    const struct {
        std::vector<std::string> args;
        int rc;
        const char* message;
    } cases[] = {
        {{}, 2, "no address given"},
        {{"300"}, 2, "\"300\" is no primary address"},
        {{"--port", "0", "5"}, 2, "--port needs a number 1..999"},
        {{"--parity", "X", "5"}, 2, "parity \"X\""},
        {{"--wait", "sometimes", "5"}, 2, "wait mode \"sometimes\""},
        {{"--bogus", "5"}, 2, "unknown option \"--bogus\""},
        {{"--port", "4", "5"}, 1, "port 4:"},
    };
    for (const auto& c : cases) {
        const RunResult r = Exchange(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace mbus::cli
