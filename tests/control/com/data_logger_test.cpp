// The data-logger protocols against simulated devices: a house-central
// unit (slave list, relayed requests, YMODEM downloads to files and memory,
// uploads) and a text logger.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>

#include "control/com/library.h"
#include "sim/bus_description.h"
#include "sim/data_loggers.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/support/scratch.h"
#include "tests/support/sim_ports.h"

namespace mbus::control::test {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(random());
    return b;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DataLogger : public ::testing::Test {
protected:
    void Attach(std::shared_ptr<serial::LineDevice> device, int timeoutOffset = 100) {
        ports_.Attach(1, std::move(device));
        c_ = NewInProcessControl();
        c_.Put("LOGMaxEntries", 1000);
        c_.Put("COMPort", 1);
        c_.Put("COMBaudrate", 38400);
        // The devices answer 20 ms after a request: the answer timeout leaves
        // room for that on a loaded machine.
        c_.Put("COMTimeoutOffset", timeoutOffset);
        c_.Call("COMOpen");
        ASSERT_EQ(c_.Long("COMIsOpen"), 0);
    }
    void SetUp() override {
        bus_->SetDefaultBaud(38400);
        bus_->SetPaced(false);
        sim::VirtualSlave slave;
        std::vector<std::string> errors;
        ASSERT_TRUE(sim::ParseSlave("primary=5 id=12345678 man=QXA version=01 medium=07 records=0413D2040000", &slave,
                                    errors));
        bus_->AddSlave(std::move(slave));
    }
    int Wait(std::chrono::seconds limit = 60s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int r;
        while ((r = c_.Long("APPReceiveTest")) == 255 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return r;
    }
    std::string Dir(const std::string& name) {
        const std::string d = scratch_.Path() + "/" + name;
        std::filesystem::create_directories(d);
        return d;
    }

    std::shared_ptr<sim::SimBus> bus_ = std::make_shared<sim::SimBus>();
    std::shared_ptr<sim::HouseCentral> central_ = std::make_shared<sim::HouseCentral>(bus_);
    testsupport::ScratchDirectory scratch_;
    testsupport::SimulatedPortMap ports_{"logger-test"};
    DispatchClient c_;
};

TEST_F(DataLogger, HouseCentralSlaveList) {
    central_->SetSlaveList({{5, "12345678", "QXA", 1, 7}, {12, "87654321", "ZZW", 20, 4}});
    Attach(central_);
    c_.Call("SP1GetSlaveList");
    EXPECT_EQ(Wait(), 0);
    const std::string list = c_.Text("SP1RetrieveSlaveListDec");
    ASSERT_EQ(list.size(), 102u) << list;
    EXPECT_EQ(list.substr(0, 51), "00512345678QXA00107" + std::string(32, 'F'));
    EXPECT_EQ(list.substr(51, 19), "01287654321ZZW02004");
    EXPECT_EQ(c_.Text("SP1RetrieveSlaveListHex").substr(51, 19), "00C87654321ZZW02004");
    EXPECT_EQ(c_.Text("SCRRetrieveSlaveListDec1", {0}), list);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataDec", {0, 0}).substr(0, 7), "122||||");
}

TEST_F(DataLogger, RequestsRelayedThroughTheHouseCentral) {
    Attach(central_);
    c_.Call("SP1REQUD2", {5});
    EXPECT_EQ(Wait(), 3);
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x12345678);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataHex", {0, 0}).substr(0, 8), "105|5|||") << "tunnel mode logs 1NN";
    // Commands of the device.
    c_.Call("SP1ReadSecondaryAddress", {std::string("1234")});
    Wait();
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataHex", {1, 0}).substr(0, 14), "126|1234FFFF||");
    c_.Call("SP1ChangeBaudrate", {19200});  // refused
    EXPECT_EQ(c_.Long("LOGUpperBound"), 1);
    c_.Call("SP1ChangeBaudrate", {9600});
    Wait();
    EXPECT_EQ(c_.Long("LOGUpperBound"), 2);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataHex", {2, 0}).substr(0, 15), "100||COM1,9600,");
}

TEST_F(DataLogger, YmodemDownloadToAFile) {
    const std::vector<uint8_t> data = RandomBytes(1500, 1);
    central_->OfferFile("meters.csv", data);
    Attach(central_);
    const std::string folder = Dir("download");
    c_.Call("SP4YMODEMDownload", {folder});
    EXPECT_EQ(Wait(), 0);
    EXPECT_EQ(ReadFile(folder + "/meters.csv"), data) << "two 1024-byte blocks, cut to the announced 1500 bytes";
}

TEST_F(DataLogger, LargeDownloadWithACorruptedBlock) {
    const std::vector<uint8_t> data = RandomBytes(300 * 1024 + 7, 2);
    central_->OfferFile("big.bin", data);
    central_->CorruptBlock(3);
    Attach(central_);
    const std::string folder = Dir("big");
    c_.Call("SP4YMODEMDownload", {folder});
    EXPECT_EQ(Wait(120s), 0);
    EXPECT_EQ(ReadFile(folder + "/big.bin"), data);
    EXPECT_EQ(central_->Retransmissions(), 1) << "the garbled block was asked for again";
}

TEST_F(DataLogger, DownloadIntoMemory) {
    const std::vector<uint8_t> memory = RandomBytes(300 * 1024, 3);
    central_->SetMemory(memory);
    // The central answers the download's command with the command's own
    // byte 13h. A send thread that reads the line only after that answer
    // came (20 ms, on a host loaded by the sanitizers) takes it for the
    // request's echo and drops it; so here that answer comes 300 ms after
    // the command, with an answer timeout of a second.
    central_->SetCommandAnswerDelay(300ms);
    Attach(central_, 1000);
    c_.Call("SP1DownloadAllData");
    EXPECT_EQ(Wait(120s), 0);
    const std::vector<uint8_t> got = Library::Instance().CurrentRecord()->channel.MemoryDownload();
    ASSERT_EQ(got.size(), 264192u) << "the store keeps its first 264192 bytes";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), memory.begin()));
    EXPECT_GE(c_.Long("SP1DownloadAllDataCurrentBlock"), 0);
}

TEST_F(DataLogger, AbortedDownloadLeavesNoFile) {
    central_->OfferFile("part.bin", RandomBytes(5000, 4));
    central_->CancelAtBlock(2);
    Attach(central_);
    const std::string folder = Dir("aborted");
    c_.Call("SP4YMODEMDownload", {folder});
    EXPECT_EQ(Wait(), 4);
    EXPECT_FALSE(std::filesystem::exists(folder + "/part.bin"));
}

TEST_F(DataLogger, HeaderNamesOutsideTheFolderAreRefused) {
    central_->OfferFile("../escaped.bin", RandomBytes(2000, 5));
    Attach(central_);
    const std::string folder = Dir("inner");
    c_.Call("SP4YMODEMDownload", {folder});
    EXPECT_EQ(Wait(), 4);
    EXPECT_FALSE(std::filesystem::exists(scratch_.Path() + "/escaped.bin"));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_FALSE(link::SafeYmodemFileName("a/b"));
    EXPECT_FALSE(link::SafeYmodemFileName(".."));
    EXPECT_FALSE(link::SafeYmodemFileName("x\\y"));
    EXPECT_TRUE(link::SafeYmodemFileName("meters..csv"));
}

TEST_F(DataLogger, Upload) {
    const std::vector<uint8_t> data = RandomBytes(2048 + 100, 6);
    const std::string path = scratch_.Path() + "/up.bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    std::ofstream(scratch_.Path() + "/empty.bin");
    Attach(central_);
    central_->ExpectUpload();
    c_.Call("SP4YMODEMUpload", {path});
    EXPECT_EQ(Wait(), 0);
    EXPECT_EQ(c_.Long("SP4YMODEMProgress"), 0) << "the transfer has ended";
    EXPECT_EQ(central_->Uploads()["up.bin"], data);
    central_->ExpectUpload();
    c_.Call("SP4YMODEMUpload", {scratch_.Path() + "/empty.bin"});
    EXPECT_EQ(Wait(), 0);
    EXPECT_TRUE(central_->Uploads().count("empty.bin") == 1 && central_->Uploads()["empty.bin"].empty());
    c_.Call("SP4YMODEMUploadEndCommand");
    Wait();
    c_.Call("SP4YMODEMUpload", {scratch_.Path() + "/missing.bin"});  // refused
    EXPECT_NE(c_.Long("APPReceiveTest"), 255);
    // A path whose last part is ".." would give the receiver that name.
    c_.Call("SP4YMODEMUpload", {scratch_.Path() + "/inner/.."});
    EXPECT_NE(c_.Long("APPReceiveTest"), 255);
    EXPECT_EQ(central_->Uploads().size(), 2u);
}

TEST_F(DataLogger, TextLogger) {
    std::vector<std::string> lines;
    for (int i = 0; i < 3; ++i) lines.push_back("01;2026-12-08 10:0" + std::to_string(i) + ";0001234" + std::to_string(i) + ";m3");
    lines.push_back(lines.back());  // a repeated line is not stored again
    auto logger = std::make_shared<sim::TextLogger>(lines);
    Attach(logger);
    c_.Call("SP2DownloadAllData");
    EXPECT_EQ(Wait(120s), 0);
    EXPECT_EQ(logger->Echoes(), 6) << "START, four lines and ENDE were echoed";
    ASSERT_EQ(c_.Long("LOGUpperBound"), 2);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataDec", {0, 0}).substr(0, 20), "01;2026-12-08 10:00;");
}

}  // namespace
}  // namespace mbus::control::test
