// mbusctl's readable output: values scaled into their units, dates, media,
// the fixed value column, CSV quoting; and as a program, the readout of a
// meter that answers in two telegrams and polling with --every.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "control/decode/options.h"
#include "tests/support/long_frame.h"
#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"
#include "tools/mbusctl/decode_command.h"
#include "tools/mbusctl/hex_input.h"
#include "tools/mbusctl/output.h"
#include "tools/mbusctl/poll.h"

namespace mbus::cli::test {
namespace {

// A long frame (C 08h, A 05h, CI 72h, identification 12345678, maker 4701h,
// version 1) of the given medium and records, with length and checksum.
std::vector<uint8_t> Frame(uint8_t medium, const std::string& recordsHex) {
    std::vector<uint8_t> user = {0x08, 0x05, 0x72, 0x78, 0x56, 0x34, 0x12, 0x01, 0x47, 0x01, medium, 0x2A, 0, 0, 0};
    const std::vector<uint8_t> records = ParseHexBytes(recordsHex).bytes;
    user.insert(user.end(), records.begin(), records.end());
    return testsupport::LongFrame(user);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X", v);
        s += b;
    }
    return s;
}

std::string DecodeTable(const std::vector<uint8_t>& frame, std::vector<std::string> options = {}) {
    options.push_back(Hex(frame));
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunDecode(options, in, out, err), 0) << err.str();
    MBusLanguage = 0;
    MBusOption.Reset();
    return out.str();
}

// The table line of a record (the line that starts with its number).
std::string RecordLine(const std::string& table, int number) {
    std::istringstream lines(table);
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "  %2d  ", number);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 6, prefix) == 0) return line;
    return "";
}

// Characters (not bytes) of a UTF-8 text.
std::size_t Chars(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// Energy 4711 kWh (VIF 06h), flow temperature 0555 (VIF 5Ah), volume
// 12345678 l (VIF 13h), a date and time (type F), a date (type G,
// 2026-12-08), and energy 10000 Wh with a VIFE whose text is long.
const char* kRecords = "0C 06 11 47 00 00  0A 5A 55 05  0C 13 78 56 34 12  04 6D 1E 12 18 1C  02 6C 48 3C"
                       "  04 83 3C 10 27 00 00";

TEST(ReadableTable, ValuesAreScaledExactlyIntoTheirUnitsWithAnyMultiplierOption) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--keep-multiplier"}}) {
        SCOPED_TRACE(options.size());
        const std::string table = DecodeTable(Frame(0x04, kRecords), options);
        EXPECT_NE(RecordLine(table, 1).find(" 4711  kWh"), std::string::npos) << table;
        EXPECT_NE(RecordLine(table, 2).find(" 55.5  °C"), std::string::npos) << table;
        EXPECT_NE(RecordLine(table, 3).find(" 12345.678  m³"), std::string::npos) << table;
        EXPECT_NE(RecordLine(table, 4).find(" 2008-12-24 18:30"), std::string::npos) << table;
        EXPECT_NE(RecordLine(table, 5).find(" 2026-12-08"), std::string::npos) << table;
        EXPECT_NE(RecordLine(table, 6).find(" 10  kWh"), std::string::npos) << table;
        // The medium reads without underscores.
        EXPECT_NE(table.find("Medium          04h Heat (outlet)\n"), std::string::npos) << table;
    }
}

TEST(ReadableTable, ALongDescriptionIsCutAndTheValuesKeepTheirColumn) {
    const std::string table = DecodeTable(Frame(0x02, kRecords));
    const std::string plain = RecordLine(table, 1), long_ = RecordLine(table, 6);
    ASSERT_NE(long_.find("\u2026"), std::string::npos) << table;
    // The values end in the same column: the units start there.
    EXPECT_EQ(Chars(plain.substr(0, plain.find("  kWh"))), Chars(long_.substr(0, long_.find("  kWh")))) << table;
    EXPECT_EQ(Chars(plain.substr(0, plain.find("  kWh"))),
              Chars(RecordLine(table, 3).substr(0, RecordLine(table, 3).find("  m³"))))
        << table;
}

TEST(ReadableCsv, RowQuotesFieldsWithCommasAndQuotes) {
    // A plain-text unit "a,\"b" (sent in reverse order) and a volume.
    const std::vector<uint8_t> frame = Frame(0x07, "04 7C 04 62 22 2C 61 05 00 00 00  04 13 D2 04 00 00");
    MBTelegram t;
    t.InterpretAnswer(3, frame[4], frame[5], frame[6], frame.data(), static_cast<int>(frame.size()));
    const std::string row = CsvRows({&t}, "5", 0);
    EXPECT_EQ(row.find(",5,1234567847010107,12345678,QXA,Water,"), 0u) << row;
    EXPECT_NE(row.find("\"a,\"\"b\""), std::string::npos) << row;
    EXPECT_NE(row.find(",Inst,Volume,1.234,m³"), std::string::npos) << row;
    std::string header = kCsvHeader;
    EXPECT_EQ(header.substr(0, 5), "time,");
}

std::vector<std::unique_ptr<MBTelegram>> Volume() {
    const std::vector<uint8_t> frame = Frame(0x07, "04 13 D2 04 00 00");
    std::vector<std::unique_ptr<MBTelegram>> telegrams;
    telegrams.push_back(std::make_unique<MBTelegram>());
    telegrams.back()->InterpretAnswer(3, frame[4], frame[5], frame[6], frame.data(), static_cast<int>(frame.size()));
    return telegrams;
}

TEST(PollLoop, ARoundLongerThanTheIntervalIsNotedAndTheNextStartsAtOnce) {
    std::atomic<bool> stop{false};
    std::vector<std::chrono::steady_clock::time_point> calls;
    const MeterReader read = [&](const std::string&) {
        calls.push_back(std::chrono::steady_clock::now());
        if (calls.size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        // The stop comes during the third read, which is then not written.
        if (calls.size() == 3) stop.store(true);
        return Readout{Volume(), ""};
    };
    OutputOptions o;
    o.format = OutputOptions::Format::Json;
    std::ostringstream out, err;
    EXPECT_EQ(Poll({"5"}, read, o, PollOptions{1, ""}, stop, out, err), 0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(err.str().find("mbusctl read: the round took "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("longer than --every 1; the next starts at once"), std::string::npos) << err.str();
    // Round 2 at once, round 3 a second after round 2 started.
    EXPECT_GE(calls[2] - calls[1], std::chrono::milliseconds(990));
    const std::string lines = out.str();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
    EXPECT_EQ(lines.find("{\"address\":\"5\",\"readAt\":"), 0u) << lines;
}

// mbusctl against mbus-sim, with a port map and registry of its own.
class ReadableProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    std::unique_ptr<ChildProcess> Sim(const std::vector<std::string>& args) {
        auto sim = std::make_unique<ChildProcess>(MBUS_SIM_PATH, args);
        if (!sim->WaitForOutput("\n")) return nullptr;
        scratch_.WriteFile("ports", "1 = " + sim->Output().substr(0, sim->Output().find('\n')) + "\n");
        return sim;
    }
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(
            MBUSCTL_PATH, args,
            std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                     "MBUS_REGISTRY=" + scratch_.File("registry"),
                                     "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream f(scratch_.File(name), std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

    testsupport::ScratchDirectory scratch_;
};

TEST_F(ReadableProgram, AMeterAnsweringInTwoTelegramsIsOneReadout) {
    auto sim = Sim({"--slave", "primary=7 id=27182818 man=QXA medium=04 records=0C0699990000 records=0C1312340000"});
    ASSERT_NE(sim, nullptr);
    auto table = Mbusctl({"read", "7"});
    EXPECT_EQ(table->Wait(), 0) << table->Errors();
    const std::string t = table->Output();
    EXPECT_EQ(t.find("Meter 1: address 7, read at "), 0u) << t;
    EXPECT_NE(t.find("(2 telegrams)"), std::string::npos) << t;
    EXPECT_EQ(t.find("Meter 2"), std::string::npos) << t;
    EXPECT_EQ(t.find("Identification"), t.rfind("Identification")) << t;
    EXPECT_NE(RecordLine(t, 1).find(" 9999  kWh"), std::string::npos) << t;
    EXPECT_NE(RecordLine(t, 2).find(" 3.412  m³"), std::string::npos) << t;

    auto json = Mbusctl({"read", "--format", "json", "7"});
    EXPECT_EQ(json->Wait(), 0) << json->Errors();
    const std::string j = json->Output();
    EXPECT_EQ(std::count(j.begin(), j.end(), '\n'), 1) << j;
    EXPECT_EQ(j.find("{\"address\":\"7\",\"readAt\":\"20"), 0u) << j;
    EXPECT_NE(j.find("\"value\":\"00009999\""), std::string::npos) << j;
    EXPECT_NE(j.find("\"value\":\"00003412\""), std::string::npos) << j;
}

TEST_F(ReadableProgram, PollingWritesWholeLinesAndAsksASilentMeterAgain) {
    // Two answers a reading (SND_NKE's acknowledgement, the readout); the
    // fourth (meter 2's readout in round 1) is not sent. Should
    // a loaded machine make the master miss an earlier answer, the silence
    // falls on another reading; the test follows whichever meter missed.
    auto sim = Sim({"--slave",
                    "primary=1 id=11111111 man=QXA medium=07 records=0413D2040000", "--slave",
                    "primary=2 id=22222222 man=QXA medium=07 records=0413E8030000", "--fault", "none", "--fault",
                    "none", "--fault", "none", "--fault", "silence"});
    ASSERT_NE(sim, nullptr);
    // Appending to a file that has content: no second header.
    scratch_.WriteFile("readings.csv", std::string(kCsvHeader) + "\nolder row\n");
    auto poll = Mbusctl({"read", "--retries", "0", "--every", "1", "--format", "csv", "--output",
                         scratch_.File("readings.csv"), "1", "2"});
    const std::map<std::string, std::string> rowOf = {
        {"1", ",1,1111111147010107,11111111,QXA,Water,0,0,0,Inst,Volume,1.234,m³"},
        {"2", ",2,2222222247010107,22222222,QXA,Water,0,0,0,Inst,Volume,1,m³"}};
    auto rowsOf = [&](const std::string& text, const std::string& meter) {
        std::size_t n = 0;
        for (std::size_t at = text.find(rowOf.at(meter) + "\n"); at != std::string::npos;
             at = text.find(rowOf.at(meter) + "\n", at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(poll->WaitForErrors(" did not answer\n")) << poll->Errors();
    const std::string& log = poll->Errors();
    const std::size_t name = log.find(" mbusctl read: ") + 15;
    const std::string silent = log.substr(name, log.find(' ', name) - name);
    ASSERT_EQ(rowOf.count(silent), 1u) << log;
    // Rows are flushed as they come: the file is read while the program
    // runs, until the silent meter was read again and three rounds passed.
    const std::size_t before = rowsOf(ReadFile("readings.csv"), silent);
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text = ReadFile("readings.csv");
        if (rowsOf(text, silent) > before && rowsOf(text, "1") + rowsOf(text, "2") >= 5) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GT(rowsOf(text, silent), before) << text << poll->Errors();
    EXPECT_GE(rowsOf(text, "1") + rowsOf(text, "2"), 5u) << text;
    poll->Signal(SIGTERM);
    EXPECT_EQ(poll->Wait(), 0) << poll->Errors();
    EXPECT_EQ(poll->Output(), "");

    // Whole lines only: the header once, the older row, then readings.
    text = ReadFile("readings.csv");
    ASSERT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_GE(rows.size(), 7u);
    EXPECT_EQ(rows[0], kCsvHeader);
    EXPECT_EQ(rows[1], "older row");
    for (std::size_t i = 2; i < rows.size(); ++i) {
        const std::string& r = rows[i];
        // A time stamp, then the meter's fields.
        EXPECT_EQ(r.substr(0, 2), "20") << r;
        const std::size_t comma = r.find(',');
        EXPECT_TRUE(r.substr(comma) == rowOf.at("1") || r.substr(comma) == rowOf.at("2")) << r;
    }
}

}  // namespace
}  // namespace mbus::cli::test
