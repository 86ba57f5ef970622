// mbusctl reading meters through a network serial server: a gateway in the
// test (a simulated bus behind a loopback TCP port) that answers, one that
// cuts an answer by closing the connection, one that is not there, and
// mbus-sim serving its bus with --tcp.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/platform/serial/loopback_server.h"
#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::cli::test {
namespace {

using serial::SimClock;
using serial::WireByte;

constexpr const char* kSlave = "primary=5 id=12345678 man=QXA medium=07 records=0413D2040000";

// A gateway on a loopback port with one simulated slave behind it. With
// `cutFirst`, the first answer longer than one byte is cut after `cutAt` bytes
// by closing the connection; later connections are served in full.
class Gateway {
public:
    explicit Gateway(bool cutFirst, std::size_t cutAt = 6) : cutFirst_(cutFirst), cutAt_(cutAt) {
        sim::VirtualSlave slave;
        std::vector<std::string> errors;
        ok_ = server_.Ok() && sim::ParseSlave(kSlave, &slave, errors);
        bus_.AddSlave(std::move(slave));
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~Gateway() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Ok() const { return ok_; }
    std::string Device() const { return server_.Device(); }
    int Connections() const { return connections_; }
    int Cuts() const { return cuts_; }

private:
    void Serve() {
        std::deque<WireByte> due;
        std::size_t answerBytes = 0;
        while (!stop_) {
            if (server_.Client() < 0) {
                if (server_.Accept(std::chrono::milliseconds(5))) {
                    ++connections_;
                    due.clear();
                    answerBytes = 0;
                }
                continue;
            }
            pollfd p{server_.Client(), POLLIN, 0};
            if (::poll(&p, 1, 1) == 1) {
                uint8_t buffer[256];
                const ssize_t n = ::recv(server_.Client(), buffer, sizeof buffer, 0);
                if (n <= 0) {
                    server_.Close();
                    continue;
                }
                // The request is on the bus once it has been sent there at 2400 baud, 11 bits a byte.
                const auto end = SimClock::now() + std::chrono::microseconds(n * 11 * 1000000 / 2400);
                for (const WireByte& b : bus_.OnMasterBytes(std::vector<uint8_t>(buffer, buffer + n), end, {}))
                    due.push_back(b);
                answerBytes = 0;
            }
            std::vector<uint8_t> out;
            while (!due.empty() && due.front().at <= SimClock::now()) {
                out.push_back(due.front().value);
                due.pop_front();
            }
            if (out.empty()) continue;
            if (cutFirst_ && cuts_ == 0 && answerBytes + out.size() + due.size() > 1) {
                // The first long answer: a part of it, then the connection ends.
                out.resize(std::min(out.size(), cutAt_ - std::min(cutAt_, answerBytes)));
                server_.Send(out);
                answerBytes += out.size();
                if (answerBytes >= cutAt_) {
                    server_.Close();
                    ++cuts_;
                }
                continue;
            }
            answerBytes += out.size();
            server_.Send(out);
        }
    }

    const bool cutFirst_;
    const std::size_t cutAt_;
    bool ok_ = false;
    serial::testing::LoopbackServer server_;
    sim::SimBus bus_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> cuts_{0};
};

class TcpGatewayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    // mbusctl with port 1 mapped to `device` and a registry of its own.
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args, const std::string& device) {
        scratch_.WriteFile("ports", "1 = " + device + "\n");
        return std::make_unique<ChildProcess>(
            MBUSCTL_PATH, args,
            std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                     "MBUS_REGISTRY=" + scratch_.File("registry"),
                                     "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
    }

    testsupport::ScratchDirectory scratch_;
};

TEST_F(TcpGatewayTest, ReadThroughAGatewayDecodesTheMeter) {
    Gateway gateway(false);
    ASSERT_TRUE(gateway.Ok());
    auto mbusctl = Mbusctl({"read", "--retries", "3", "5"}, gateway.Device());
    ASSERT_TRUE(mbusctl->Started());
    EXPECT_EQ(mbusctl->Wait(), 0) << mbusctl->Errors();
    EXPECT_NE(mbusctl->Output().find("12345678"), std::string::npos) << mbusctl->Output();
    EXPECT_NE(mbusctl->Output().find("1234"), std::string::npos) << mbusctl->Output();
    EXPECT_EQ(gateway.Connections(), 1);
}

TEST_F(TcpGatewayTest, AnswerCutByTheGatewayIsRetriedOnANewConnection) {
    Gateway gateway(true);
    ASSERT_TRUE(gateway.Ok());
    auto mbusctl = Mbusctl({"read", "--retries", "3", "5"}, gateway.Device());
    ASSERT_TRUE(mbusctl->Started());
    EXPECT_EQ(mbusctl->Wait(), 0) << mbusctl->Errors();
    EXPECT_EQ(gateway.Cuts(), 1);
    EXPECT_EQ(gateway.Connections(), 2);
    EXPECT_NE(mbusctl->Errors().find(gateway.Device() + ": connection lost"), std::string::npos) << mbusctl->Errors();
    EXPECT_NE(mbusctl->Output().find("12345678"), std::string::npos) << mbusctl->Output();
}

TEST_F(TcpGatewayTest, AnswerCutWithoutRetriesFailsInsteadOfHanging) {
    Gateway gateway(true);
    ASSERT_TRUE(gateway.Ok());
    const auto start = std::chrono::steady_clock::now();
    auto mbusctl = Mbusctl({"read", "--retries", "0", "5"}, gateway.Device());
    ASSERT_TRUE(mbusctl->Started());
    EXPECT_NE(mbusctl->Wait(), 0) << mbusctl->Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(gateway.Cuts(), 1);
    EXPECT_EQ(mbusctl->Output().find("12345678"), std::string::npos) << mbusctl->Output();
}

TEST_F(TcpGatewayTest, GatewayThatIsNotThereIsNamedWithTheReason) {
    std::string device;
    {
        serial::testing::LoopbackServer gone;
        ASSERT_TRUE(gone.Ok());
        device = gone.Device();
    }
    auto mbusctl = Mbusctl({"read", "--retries", "1", "5"}, device);
    ASSERT_TRUE(mbusctl->Started());
    EXPECT_EQ(mbusctl->Wait(), 1) << mbusctl->Errors();
    EXPECT_NE(mbusctl->Errors().find(device + ": connection refused"), std::string::npos) << mbusctl->Errors();
}

TEST_F(TcpGatewayTest, ReadAgainstMbusSimServingOnATcpPort) {
    ChildProcess sim(MBUS_SIM_PATH, {"--tcp", "0", "--unpaced", "--slave", kSlave});
    ASSERT_TRUE(sim.WaitForOutput("\n")) << sim.Errors();
    const std::string device = sim.Output().substr(0, sim.Output().find('\n'));
    ASSERT_EQ(device.rfind("tcp:127.0.0.1:", 0), 0u) << device;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // The second program connects after the first has left.
        auto mbusctl = Mbusctl({"read", "--retries", "3", "5"}, device);
        ASSERT_TRUE(mbusctl->Started());
        EXPECT_EQ(mbusctl->Wait(), 0) << mbusctl->Errors() << sim.Errors();
        EXPECT_NE(mbusctl->Output().find("12345678"), std::string::npos) << mbusctl->Output();
    }
}

}  // namespace
}  // namespace mbus::cli::test
