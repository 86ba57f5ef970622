// REQ_UD2 to RSP_UD end to end: the link layer reaches simulated slaves
// through the port map, once in-process through the simulated backend and
// once through the termios backend and a pseudo-terminal served by mbus-sim.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/link/layer2.h"
#include "sim/bus_description.h"
#include "tests/sim/sim_process.h"
#include "tests/support/sim_ports.h"

namespace mbus::test {
namespace {

using namespace std::chrono_literals;

const char* kBus =
    "primary=1 id=11111111 man=QXA version=01 medium=07 records=0C1378563412\n"
    "primary=2 id=22222222 man=QXB version=14 medium=04 records=0C0611470000\n"
    "primary=3 id=33333333 man=ZZW version=02 medium=02 records=0403E8030000\n";

// Points port 1 of the port map at `device` while the object lives.
class PortMap {
public:
    explicit PortMap(const std::string& device) {
        path_ = std::filesystem::temp_directory_path() / ("mbus-e2e-ports-" + std::to_string(::getpid()));
        std::ofstream(path_) << "1 = " << device << "\n";
        ::setenv("MBUS_PORT_MAP", path_.c_str(), 1);
    }
    ~PortMap() {
        ::unsetenv("MBUS_PORT_MAP");
        std::filesystem::remove(path_);
    }

private:
    std::filesystem::path path_;
};

struct Result {
    int code = link::kRecBusy;
    uint16_t errors = 0;
    std::unique_ptr<MBTelegram> telegram;
};

// Sends a short frame and polls the reception to its end, as a channel does.
Result Request(MBLayer2& l2, int C, int A) {
    Result r;
    if (l2.SendShortFrame(C, A) != 1) return r;
    int c, a, ci, len, got;
    uint8_t* data;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while ((r.code = l2.ReceiveTelegram(&c, &a, &ci, &data, &len, &got)) == link::kRecBusy &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    r.errors = l2.line.errorWord.load();
    if (r.code == link::kRecLong) {
        r.telegram = std::make_unique<MBTelegram>();
        r.telegram->InterpretAnswer(r.code, static_cast<uint8_t>(c), static_cast<uint8_t>(a),
                                    static_cast<uint8_t>(ci), data, len);
    }
    return r;
}

// SND_NKE and REQ_UD2 to the three slaves of kBus.
void ReadThreeSlaves(MBLayer2& l2) {
    const int32_t ids[] = {0x11111111, 0x22222222, 0x33333333};
    for (int address = 1; address <= 3; ++address) {
        SCOPED_TRACE(address);
        EXPECT_EQ(Request(l2, 0x40, address).code, link::kRecSingleChar);
        const Result r = Request(l2, 0x5B, address);
        ASSERT_EQ(r.code, link::kRecLong) << link::ErrorWordText(r.errors);
        EXPECT_EQ(r.telegram->identNumber, ids[address - 1]);
        EXPECT_EQ(r.telegram->aField, static_cast<uint32_t>(address));
        EXPECT_EQ(r.telegram->RecordCount(), 1);
    }
    // Nobody lives at 7.
    const Result none = Request(l2, 0x5B, 7);
    EXPECT_EQ(none.code, link::kRecFault);
    EXPECT_EQ(none.errors, 0x001);
}

std::shared_ptr<sim::SimBus> MakeBus(const char* description) {
    auto bus = std::make_shared<sim::SimBus>();
    std::vector<std::string> errors;
    for (sim::VirtualSlave& s : sim::ParseBusDescription(description, errors)) bus->AddSlave(std::move(s));
    EXPECT_TRUE(errors.empty());
    bus->SetDefaultBaud(9600);
    return bus;
}

class SimulatedBusLine : public ::testing::Test {
protected:
    void SetUp() override {
        MBusOption.Reset();
        ports.Attach(1, bus);
    }
    std::shared_ptr<sim::SimBus> bus = MakeBus(kBus);
    testsupport::SimulatedPortMap ports{"e2e"};
};

TEST_F(SimulatedBusLine, ReadsThreeSlaves) {
    MBLayer2 l2;
    ASSERT_EQ(l2.line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1) << l2.line.lastErrorText;
    ReadThreeSlaves(l2);
}

TEST_F(SimulatedBusLine, ReadsThreeSlavesWithFullEcho) {
    bus->SetEcho(sim::EchoMode::kFull);
    MBLayer2 l2;
    ASSERT_EQ(l2.line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    l2.line.echoOption = 1;
    ReadThreeSlaves(l2);
}

TEST_F(SimulatedBusLine, TwoSlavesAtOneAddressCollide) {
    sim::VirtualSlave twin;
    std::vector<std::string> errors;
    ASSERT_TRUE(sim::ParseSlave("primary=2 id=99999999 man=QXC medium=07 records=0413FFFF0000", &twin, errors));
    bus->AddSlave(std::move(twin));
    MBLayer2 l2;
    ASSERT_EQ(l2.line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    const Result r = Request(l2, 0x5B, 2);
    EXPECT_EQ(r.code, link::kRecFault);
    EXPECT_NE(r.errors & (0x004 | 0x010 | 0x080), 0) << link::ErrorWordText(r.errors);
}

TEST(TerminalLine, ReadsThreeSlavesFromMbusSim) {
    MBusOption.Reset();
    const std::string file = std::filesystem::temp_directory_path() / ("mbus-e2e-bus-" + std::to_string(::getpid()));
    std::ofstream(file) << kBus;
    sim::test::SimProcess process(MBUS_SIM_PATH, {"--file", file, "--baud", "9600"});
    ASSERT_TRUE(process.Started());
    const std::string tty = process.ReadLine();
    ASSERT_FALSE(tty.empty()) << process.ReadErrors(1s);
    PortMap map(tty);
    MBLayer2 l2;
    ASSERT_EQ(l2.line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1) << l2.line.lastErrorText;
    EXPECT_EQ(l2.line.PortName(), tty);
    ReadThreeSlaves(l2);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace mbus::test
