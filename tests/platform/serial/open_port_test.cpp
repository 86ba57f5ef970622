// Opening ports by number through a port-map file written for the test.

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/serial_port.h"
#include "platform/serial/simulated_port.h"
#include "serial_test_support.h"

namespace mbus::serial {
namespace {

using testing::PseudoTerminal;
using testing::ScopedEnv;
using testing::ScratchDirectory;
using testing::WaitUntil;

// A line whose far end answers every byte with the byte plus one, at once.
class PlusOneDevice : public LineDevice {
public:
    bool Paced() const override { return false; }
    std::vector<WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, SimClock::time_point end,
                                        const SerialConfig&) override {
        std::vector<WireByte> back;
        for (uint8_t b : bytes) back.push_back({end, static_cast<uint8_t>(b + 1)});
        return back;
    }
};

class OpenPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    // Writes the port map and points the environment at it.
    void UseMap(const std::string& text) {
        mapFile = dir.WriteFile("ports", text);
        env = std::make_unique<ScopedEnv>("MBUS_PORT_MAP", mapFile.c_str());
    }

    ScratchDirectory dir;
    std::string mapFile;
    std::unique_ptr<ScopedEnv> env;
};

TEST_F(OpenPortTest, PortNumberOutsideOneToNineHundredNinetyNineGivesEINVAL) {
    UseMap("");
    for (int number : {0, -1, 1000, 123456}) {
        int error = 0;
        EXPECT_EQ(OpenPort(number, &error), nullptr) << number;
        EXPECT_EQ(error, EINVAL) << number;
    }
}

TEST_F(OpenPortTest, MappedPseudoTerminalOpensAsATerminalPort) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    UseMap("# bench\n3 = " + pty.SlavePath() + "\n");
    int error = -1;
    std::unique_ptr<SerialPort> port = OpenPort(3, &error);
    ASSERT_NE(port, nullptr) << "errno " << error;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(port->Name(), pty.SlavePath());
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    const uint8_t e5 = 0xE5;
    ASSERT_EQ(port->Write(&e5, 1), 1);
    EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{0xE5});
}

TEST_F(OpenPortTest, MappedSimulatedBusOpensASimulatedPort) {
    RegisterSimulatedBus("serial-test-bus", std::make_shared<PlusOneDevice>());
    UseMap("7 = sim:serial-test-bus\n");
    int error = -1;
    std::unique_ptr<SerialPort> port = OpenPort(7, &error);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(port->Name(), "sim:serial-test-bus");
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    const uint8_t out[] = {0x10, 0x40};
    ASSERT_EQ(port->Write(out, 2), 2);
    ASSERT_TRUE(WaitUntil([&] { return port->BytesWaiting() == 2; }));
    uint8_t in[4];
    ASSERT_EQ(port->Read(in, sizeof in), 2);
    EXPECT_EQ(in[0], 0x11);
    EXPECT_EQ(in[1], 0x41);
    UnregisterSimulatedBus("serial-test-bus");
}

TEST_F(OpenPortTest, UnregisteredSimulatedBusGivesENOENT) {
    UseMap("8 = sim:serial-test-nobody\n");
    int error = 0;
    EXPECT_EQ(OpenPort(8, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST_F(OpenPortTest, MappedDeviceThatDoesNotExistGivesENOENT) {
    UseMap("5 = " + dir.Path() + "/no-such-tty\n");
    int error = 0;
    EXPECT_EQ(OpenPort(5, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST_F(OpenPortTest, LaterMapEntryDecidesWhichDeviceOpens) {
    RegisterSimulatedBus("serial-test-second", std::make_shared<PlusOneDevice>());
    UseMap("4 = sim:serial-test-first\n4 = sim:serial-test-second\n");
    int error = 0;
    std::unique_ptr<SerialPort> port = OpenPort(4, &error);
    ASSERT_NE(port, nullptr) << "errno " << error;
    EXPECT_EQ(port->Name(), "sim:serial-test-second");
    UnregisterSimulatedBus("serial-test-second");
}

}  // namespace
}  // namespace mbus::serial
