// The simulated bus behind the in-process simulated serial port.

#include <thread>

#include "control/line/frame_shape.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;

// Reads until `count` bytes came or the deadline passed (generous: seconds).
Bytes ReadBytes(serial::SerialPort& port, std::size_t count, std::chrono::seconds patience = 5s) {
    Bytes out;
    const auto deadline = SimClock::now() + patience;
    while (out.size() < count && SimClock::now() < deadline) {
        uint8_t buffer[300];
        const int n = port.Read(buffer, sizeof buffer);
        out.insert(out.end(), buffer, buffer + std::max(n, 0));
        if (n <= 0) std::this_thread::sleep_for(1ms);
    }
    return out;
}

TEST(SimulatedPortBusTest, PacedBusAnswersThroughTheSimulatedPort) {
    auto bus = std::make_shared<SimBus>();
    VirtualSlave slave;
    std::vector<std::string> errors;
    ASSERT_TRUE(ParseSlave("primary=7 id=76543210 man=QXA medium=07 records=0413D2040000", &slave, errors));
    bus->AddSlave(std::move(slave));
    serial::RegisterSimulatedBus("sim-tests", bus);
    const auto found = serial::FindSimulatedBus("sim-tests");
    ASSERT_EQ(found, bus);

    serial::SimulatedPort port("sim:sim-tests", found);
    serial::SerialConfig config;
    config.baud = 9600;
    ASSERT_TRUE(port.Configure(config));
    bus->SetDefaultBaud(9600);

    const Bytes nke = ShortFrame(0x40, 7);
    ASSERT_EQ(port.Write(nke.data(), static_cast<int>(nke.size())), 5);
    EXPECT_EQ(ReadBytes(port, 1), Bytes{0xE5});

    const Bytes req = ShortFrame(0x7B, 7);
    ASSERT_EQ(port.Write(req.data(), static_cast<int>(req.size())), 5);
    const Bytes answer = ReadBytes(port, 27);
    ASSERT_EQ(ClassifyFrame(answer).result, 3);
    const auto t = Decode(answer);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x76543210);
    EXPECT_FALSE(port.TakeErrors().Any());

    // A fault with a UART flag reaches the port's error state.
    bus->QueueFault(Fault::Parity(0));
    ASSERT_EQ(port.Write(nke.data(), static_cast<int>(nke.size())), 5);
    EXPECT_EQ(ReadBytes(port, 1), Bytes{0xE5});
    EXPECT_TRUE(port.TakeErrors().parity);
    serial::UnregisterSimulatedBus("sim-tests");
}

}  // namespace
}  // namespace mbus::sim::test
