// mbusctl read's CSV as any tool reads it: Python's csv module reads the
// output of a single read and of polling back, and every row has the
// header's width, one record a row, numbers with a decimal point.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::cli::test {
namespace {

const char* const kHeader =
    "time|address|secondary address|identification|manufacturer|medium|storage|tariff|subunit|function|description|"
    "value|unit";

// python3 from PATH, or empty.
std::string Python() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/python3").c_str(), X_OK) == 0) return dir + "/python3";
    return {};
}

// Reads a CSV file with Python's csv module: the first line "COLUMNS ROWS
// ROWS-OF-ANOTHER-WIDTH", then every row with its fields joined by "|".
const char* const kReadBack =
    "import csv, sys\n"
    "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
    "print(len(rows[0]), len(rows) - 1, sum(1 for r in rows if len(r) != len(rows[0])))\n"
    "for r in rows: print('|'.join(r))\n";

class CsvLayout : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Ok());
        python_ = Python();
        if (python_.empty()) GTEST_SKIP() << "python3 is missing: the CSV output is not read back";
        // A three-telegram heat meter and a water meter whose plain-text
        // unit holds a comma and a quote.
        sim_ = std::make_unique<ChildProcess>(
            MBUS_SIM_PATH,
            std::vector<std::string>{
                "--unpaced", "--slave",
                "primary=9 id=12349999 man=QXB medium=04 records=0C0611470000 records=0C1389670000 records=0A5A5505",
                "--slave", "primary=5 id=12345678 man=QXA medium=07 records=047C0462222C61050000000413D2040000"});
        ASSERT_TRUE(sim_->WaitForOutput("\n"));
        scratch_.WriteFile("ports", "1 = " + sim_->Output().substr(0, sim_->Output().find('\n')) + "\n");
    }
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(MBUSCTL_PATH, args,
                                              std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                                                       "MBUS_REGISTRY=" + scratch_.File("registry"),
                                                                       "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
    }
    // The file as Python's csv module reads it.
    std::string ReadBack(const std::string& file) {
        ChildProcess python(python_, {"-c", kReadBack, file});
        EXPECT_EQ(python.Wait(std::chrono::seconds(60)), 0) << python.Errors();
        return python.Output();
    }
    // Checks the rows of at least one reading of both meters.
    static void ExpectReadings(const std::string& rows) {
        std::istringstream lines(rows);
        std::string header;
        int columns = 0, records = 0, otherWidth = -1;
        lines >> columns >> records >> otherWidth;
        lines.ignore(1);
        std::getline(lines, header);
        // All rows as wide as the header; 5 records a reading (three of meter 9, two of meter 5).
        EXPECT_EQ(columns, 13) << rows;
        EXPECT_EQ(otherWidth, 0) << rows;
        EXPECT_GE(records, 5) << rows;
        EXPECT_EQ(header, kHeader);
        EXPECT_NE(rows.find("|9|1234999947020104|12349999|QXB|Heat (outlet)|0|0|0|Inst|Energy|4711|kWh\n"),
                  std::string::npos)
            << rows;
        EXPECT_NE(rows.find("|0|0|0|Inst|Volume|6.789|m³\n"), std::string::npos) << rows;
        EXPECT_NE(rows.find("|0|0|0|Inst|Flow Temperature|55.5|°C\n"), std::string::npos) << rows;
        EXPECT_NE(rows.find("|5|1234567847010107|12345678|QXA|Water|0|0|0|Inst|"), std::string::npos) << rows;
        EXPECT_NE(rows.find("|Inst|a,\"b|5|\n"), std::string::npos) << rows;
        EXPECT_NE(rows.find("|Volume|1.234|m³\n"), std::string::npos) << rows;
    }

    testsupport::ScratchDirectory scratch_;
    std::string python_;
    std::unique_ptr<ChildProcess> sim_;
};

TEST_F(CsvLayout, SingleReadGivesOneRowPerRecordUnderAFixedHeader) {
    auto read = Mbusctl({"read", "--port", "1", "--format", "csv", "9", "5"});
    ASSERT_EQ(read->Wait(std::chrono::seconds(60)), 0) << read->Errors();
    scratch_.WriteFile("read.csv", read->Output());
    ExpectReadings(ReadBack(scratch_.File("read.csv")));
}

TEST_F(CsvLayout, PollingWritesTheSameLayout) {
    auto poll = Mbusctl({"read", "--port", "1", "--format", "csv", "--every", "1", "--output",
                         scratch_.File("poll.csv"), "9", "5"});
    // Until the first round is in the file.
    for (int i = 0; i < 600; ++i) {
        std::ifstream f(scratch_.File("poll.csv"));
        std::stringstream s;
        s << f.rdbuf();
        if (s.str().find("Volume,1.234") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    poll->Signal(SIGINT);
    ASSERT_EQ(poll->Wait(std::chrono::seconds(60)), 0) << poll->Errors();
    ExpectReadings(ReadBack(scratch_.File("poll.csv")));
}

}  // namespace
}  // namespace mbus::cli::test
