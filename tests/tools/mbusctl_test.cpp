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

TEST_F(ExchangeTest, JsonGoesAloneToStdoutAndValuesMayFollowAnEqualsSign) {
    const RunResult r = Exchange({"--port=3", "--format=json", "--retries=0", "5", "6"});
    EXPECT_EQ(r.rc, 1);
    // One JSON object, the answer of 5; the notes went to standard error.
    EXPECT_EQ(r.out.rfind("{", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_NE(r.out.find("\"identNumber\":\"12345678\""), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("SND_NKE to 5: single character E5h"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("REQ_UD2 to 6: no valid answer"), std::string::npos) << r.err;
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
        {{"--bogus", "5"}, 2, "mbusctl exchange: unknown option \"--bogus\""},
        {{"--baud", "1234", "5"}, 2, "1234 baud is not a rate the line supports"},
        {{"--port", "4", "5"}, 1, "port 4 could not be opened: "},
    };
    for (const auto& c : cases) {
        const RunResult r = Exchange(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace mbus::cli

// mbusctl decode reading standard input in blocks: the same text as decoding
// each telegram on its own, whatever the lines look like.
#include "bench/corpus.h"
#include "control/decode/answer_json.h"
#include "tests/tools/child_process.h"
#include "tools/mbusctl/output.h"

namespace mbus::cli {
namespace {

struct Rendered {
    std::string input, hex2, json, warnings;
    std::string hex2AndWarnings;  // each answer followed by its warnings
};

// The corpus's telegram lines `passes` times, and each telegram decoded into
// a telegram of its own and rendered by the library, as mbusctl once did.
Rendered CorpusRenderedOneByOne(int passes) {
    const auto corpus = bench::LoadCorpus();
    ApplyOutputOptions(OutputOptions{});
    Rendered once;
    for (const bench::Answer& a : corpus) {
        for (std::size_t i = 0; i < a.frame.size(); ++i) {
            static const char* kHex = "0123456789ABCDEF";
            once.input += i ? " " : "";
            once.input += kHex[a.frame[i] >> 4];
            once.input += kHex[a.frame[i] & 0x0F];
        }
        once.input += '\n';
        MBTelegram t;
        t.InterpretAnswer(a.shape.result, a.shape.C, a.shape.A, a.shape.CI, a.frame.data(),
                          static_cast<int>(a.frame.size()));
        const std::string hex2 = CookedData(AnswerView::Of(t), CookedVariant::Hex2) + "\n";
        once.hex2 += hex2;
        once.hex2AndWarnings += hex2;
        AppendAnswerJson(once.json, AnswerView::Of(t));
        once.json += '\n';
        for (const std::string& w : t.warnings) {
            once.warnings += "warning: " + w + "\n";
            once.hex2AndWarnings += "warning: " + w + "\n";
        }
    }
    MBusOption.Reset();
    Rendered all;
    for (int i = 0; i < passes; ++i) {
        all.input += once.input;
        all.hex2 += once.hex2;
        all.json += once.json;
        all.warnings += once.warnings;
        all.hex2AndWarnings += once.hex2AndWarnings;
    }
    return all;
}

TEST(DecodeStdin, QuickParseAgreesWithTheParseThatExplains) {
    const char* texts[] = {"68 1F 1F 68", "681f1F68", "68,1F\t1F 68\r", " E5 ", "E5 E5 E5 E5 E5 E5 E5 E5 E5",
                           "E5 E5 E5 E5 E5 E5 E5 E5 E", "E5 E5 E5 E5 E5 E5 E5 E5 5E5", "E5 E5 E5 E5 E5 E5 E5 EG",
                           "E5 E5 E5 E5 E5 E5 E5 E5 \x80", "6 8", "68 1", "", "   ", "E5\xE5", "0 0 0 0 00 00 00 00"};
    std::vector<uint8_t> buffer;
    for (const std::string_view text : texts) {
        const HexParse explained = ParseHexBytes(text);
        const long n = ParseHexInto(text, buffer);
        if (explained.error.empty()) {
            ASSERT_EQ(n, static_cast<long>(explained.bytes.size())) << text;
            EXPECT_TRUE(std::equal(explained.bytes.begin(), explained.bytes.end(), buffer.begin())) << text;
        } else {
            EXPECT_EQ(n, -1) << text << ": " << explained.error;
        }
    }
}

TEST(DecodeStdin, WholeCorpusMatchesTelegramByTelegram) {
    // Twelve passes are more than one 64 KiB block: lines cross block ends.
    const Rendered expected = CorpusRenderedOneByOne(12);
    ASSERT_GT(expected.input.size(), 64u * 1024);
    const RunResult hex2 = Decode({"--format", "hex2"}, expected.input);
    EXPECT_EQ(hex2.rc, 0);
    EXPECT_EQ(hex2.out, expected.hex2);
    EXPECT_EQ(hex2.err, expected.warnings);
    const RunResult json = Decode({"--format", "json"}, expected.input);
    EXPECT_EQ(json.rc, 0);
    EXPECT_EQ(json.out, expected.json);
    EXPECT_EQ(json.err, expected.warnings);
    // Both streams into one: each warning right after its answer.
    std::istringstream in(expected.input);
    std::ostringstream both;
    EXPECT_EQ(RunDecode({"--format", "hex2"}, in, both, both), 0);
    MBusOption.Reset();
    EXPECT_EQ(both.str(), expected.hex2AndWarnings);
}

TEST(DecodeStdin, OddLinesReadAsBefore) {
    const std::string volume = Decode({"--format", "hex2", kVolume}).out;
    const std::string e5 = Decode({"--format", "hex2", "E5"}).out;
    ASSERT_FALSE(volume.empty());
    // Blank and comment lines, CRLF, lowercase, commas and tabs, no blanks
    // at all, a line longer than a read block, no newline at the end.
    std::string input = "\n   \r\n\t# comment\r\n";
    input += std::string(kVolume) + "\r\n";
    input += "68 15 15 68 08 01 72 78 56 34 12 01 47 01 07 2a 00 00 00 04 13 d2 04 00 00 f6 16\n";
    input += "68,15,15,68\t08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 04 13 D2 04 00 00 F6 16 \n";
    input += "681515680801727856341201470107 2A00000004 13D2040000F616\n";
    input += "E5" + std::string(70000, ' ') + "\n";
    input += kVolume;
    const RunResult r = Decode({"--format", "hex2"}, input);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, volume + volume + volume + volume + e5 + volume);
}

TEST(DecodeStdin, BadLinesKeepTheirMessagesNumbersAndExitCode) {
    const std::string volume = Decode({"--format", "hex2", kVolume}).out;
    const std::string input = std::string(kVolume) + "\n68 1G\r\n" + "68 15 15 68 08 01 72 00 16\n" +
                              "6 8\n" + "68 15 15 68 08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 0G\n" + kVolume +
                              "\n";
    const RunResult r = Decode({"--format", "hex2"}, input);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err,
              "mbusctl decode: \"68 1G\r\": not a hex digit: 'G' at column 5; use 0-9 and A-F, bytes separated by "
              "blanks or not\n"
              "mbusctl decode: telegram 3 (68 15 15 68 08 01 72 00 ...): wrong length; --force decodes it anyway\n"
              "mbusctl decode: \"6 8\": a lone hex digit at column 1; give every byte as two digits, e.g. \"0F\" "
              "instead of \"F\"\n"
              "mbusctl decode: \"68 15 15 68 08 01 72 78 56 34 12 01 4...\": not a hex digit: 'G' at column 59; use "
              "0-9 and A-F, bytes separated by blanks or not\n");
    // The faulty frame still prints its line (not decoded), the good ones
    // theirs, in order.
    EXPECT_EQ(r.out.substr(0, volume.size()), volume);
    EXPECT_EQ(r.out.substr(r.out.size() - volume.size()), volume);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
}

TEST(DecodeStdin, ProgramAnswersEachLineWhileItsInputStaysOpen) {
    test::ChildProcess mbusctl(MBUSCTL_PATH, {"decode", "--format", "hex2"});
    ASSERT_TRUE(mbusctl.Started());
    const std::string answer = "03010108017212345678QXA012A00000007Water|00000000000000000000000000000000040013|1234|\n";
    mbusctl.Write(std::string(kVolume) + "\n");
    EXPECT_TRUE(mbusctl.WaitForOutput(answer));
    const Rendered corpus = CorpusRenderedOneByOne(1);
    mbusctl.Write(corpus.input);
    mbusctl.CloseInput();
    EXPECT_EQ(mbusctl.Wait(), 0);
    EXPECT_EQ(mbusctl.Output(), answer + corpus.hex2);
    EXPECT_EQ(mbusctl.Errors(), corpus.warnings);
}

}  // namespace
}  // namespace mbus::cli
