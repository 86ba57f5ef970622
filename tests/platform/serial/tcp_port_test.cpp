// The TCP port against a server in the test: "tcp:" entries of the port map,
// bytes both ways, refused connections, a gateway that ends the connection
// mid-answer, reconnection on the next send, and the line time of a request.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"
#include "platform/serial/tcp_port.h"
#include "serial_test_support.h"

namespace mbus::serial {
namespace {

using testing::LoopbackServer;
using testing::ScopedEnv;
using testing::ScratchDirectory;
using testing::WaitUntil;
using Clock = std::chrono::steady_clock;

TEST(TcpDeviceTest, HostAndPortOfEachForm) {
    struct Case {
        const char* device;
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"tcp:gw.example:10001", "gw.example", 10001}, Case{"tcp:192.168.1.20:1", "192.168.1.20", 1},
                          Case{"tcp:[::1]:65535", "::1", 65535}, Case{"tcp:[fe80::1%eth0]:502", "fe80::1%eth0", 502},
                          Case{"tcp:gw:010", "gw", 10}}) {
        TcpEndpoint endpoint;
        EXPECT_EQ(ParseTcpDevice(c.device, &endpoint), "") << c.device;
        EXPECT_EQ(endpoint.host, c.host) << c.device;
        EXPECT_EQ(endpoint.port, c.port) << c.device;
    }
}

TEST(TcpDeviceTest, MalformedEntriesAreReportedAndLeftOutOfTheMap) {
    const char* bad[] = {"tcp:",          "tcp:gw",      "tcp::10001", "tcp:gw:",      "tcp:gw:0",
                         "tcp:gw:65536",  "tcp:gw:99999999999", "tcp:gw:1x", "tcp:::1:10001", "tcp:[::1]10001",
                         "tcp:[::1:10001", "tcp:[]:10001", "tcp:g]w:1"};
    std::string text;
    for (const char* device : bad) {
        TcpEndpoint endpoint;
        EXPECT_NE(ParseTcpDevice(device, &endpoint), "") << device;
        text += "1 = " + std::string(device) + "\n";
    }
    text += "2 = tcp:[::1]:10001\n";
    const PortMap map = ParsePortMap(text);
    EXPECT_EQ(map.entries.size(), 1u);
    EXPECT_EQ(map.entries.at(2), "tcp:[::1]:10001");
    const std::string last = "line " + std::to_string(std::size(bad)) + ": ";
    EXPECT_NE(map.errors.find(last), std::string::npos) << map.errors;
    EXPECT_NE(map.errors.find("in brackets"), std::string::npos) << map.errors;
}

class TcpPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Ok());
        ASSERT_TRUE(server.Ok());
    }

    // Maps port 9 to `device` and opens it.
    std::unique_ptr<SerialPort> Open(const std::string& device, int* error) {
        mapFile = dir.WriteFile("ports", "9 = " + device + "\n");
        env.reset();  // restores the variable before it is set again
        env = std::make_unique<ScopedEnv>("MBUS_PORT_MAP", mapFile.c_str());
        return OpenPort(9, error);
    }
    // Opens port 9 on the test's server and takes the connection there.
    std::unique_ptr<SerialPort> Connect() {
        int error = -1;
        std::unique_ptr<SerialPort> port = Open(server.Device(), &error);
        EXPECT_NE(port, nullptr) << "errno " << error;
        EXPECT_TRUE(server.Accept());
        return port;
    }
    // Everything the port receives until `n` bytes are there.
    static std::vector<uint8_t> ReadBytes(SerialPort& port, std::size_t n) {
        std::vector<uint8_t> got;
        WaitUntil([&] {
            uint8_t buffer[64];
            const int r = port.Read(buffer, sizeof buffer);
            if (r > 0) got.insert(got.end(), buffer, buffer + r);
            return got.size() >= n;
        });
        return got;
    }

    ScratchDirectory dir;
    std::string mapFile;
    std::unique_ptr<ScopedEnv> env;
    LoopbackServer server;
};

TEST_F(TcpPortTest, BytesPassBothWaysAndSerialSettingsAreOnlyRemembered) {
    std::unique_ptr<SerialPort> port = Connect();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->Name(), server.Device());
    ASSERT_TRUE(port->Configure({9600, 7, 2, 2, 1, 1}));
    EXPECT_EQ(static_cast<TcpPort&>(*port).Config().baud, 9600);
    EXPECT_FALSE(port->Configure({0, 8, 1, 1, 0, 0}));
    EXPECT_EQ(port->LastError(), EINVAL);

    const std::vector<uint8_t> request{0x10, 0x5B, 0x05, 0x60, 0x16};
    ASSERT_EQ(port->Write(request.data(), 5), 5);
    EXPECT_EQ(server.Receive(5), request);
    ASSERT_TRUE(server.Send({0xE5, 0x68, 0x00}));
    ASSERT_TRUE(WaitUntil([&] { return port->BytesWaiting() == 3; }));
    EXPECT_EQ(ReadBytes(*port, 3), (std::vector<uint8_t>{0xE5, 0x68, 0x00}));
    EXPECT_FALSE(port->TakeErrors().Any());

    // No modem lines behind a gateway: all off, and the setters say so.
    port->SetRTS(true);
    EXPECT_EQ(port->LastError(), EOPNOTSUPP);
    const ModemStatus status = port->GetModemStatus();
    EXPECT_FALSE(status.cts || status.dsr || status.ri || status.dcd);

    // Input purged before a request is gone, and the connection stays.
    ASSERT_TRUE(server.Send({0x01, 0x02}));
    ASSERT_TRUE(WaitUntil([&] { return port->BytesWaiting() == 2; }));
    port->PurgeInput();
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(static_cast<TcpPort&>(*port).Connected());
}

TEST_F(TcpPortTest, RefusedConnectionFailsFastNamingHostPortAndReason) {
    const std::string device = server.Device();
    server.StopListening();
    int error = 0;
    const auto start = Clock::now();
    EXPECT_EQ(Open(device, &error), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_EQ(ExplainPort(9), device + ": connection refused (nothing listens there)");
}

TEST_F(TcpPortTest, ExplainingAGoodGatewayNamesTheDeviceAlone) {
    EXPECT_EQ(ExplainTcpPort(server.Device()), server.Device());
    EXPECT_NE(ExplainTcpPort("tcp:gw"), "tcp:gw");
}

TEST_F(TcpPortTest, ConnectionClosedMidAnswerCutsItAndTheNextSendConnectsAgain) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        std::unique_ptr<SerialPort> port = Connect();
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(server.Send({0x68, 0x0F, 0x0F, 0x68}));
        if (reset) {
            server.Reset();
        } else {
            ASSERT_EQ(ReadBytes(*port, 4).size(), 4u);
            server.Close();
        }

        // The loss shows as an I/O fault once; reading ends instead of waiting.
        bool cut = false;
        ASSERT_TRUE(WaitUntil([&] {
            port->BytesWaiting();
            cut = port->TakeErrors().other;
            return cut;
        }));
        EXPECT_FALSE(port->TakeErrors().Any());
        uint8_t buffer[16];
        while (port->Read(buffer, sizeof buffer) > 0) {
        }
        EXPECT_EQ(port->Read(buffer, sizeof buffer), -1);
        EXPECT_FALSE(static_cast<TcpPort&>(*port).Connected());
        EXPECT_TRUE(port->OutputEmpty());

        // The next request goes out on a new connection, with no fault left over.
        const uint8_t nke[] = {0x10, 0x40, 0x05, 0x45, 0x16};
        ASSERT_EQ(port->Write(nke, 5), 5);
        ASSERT_TRUE(server.Accept());
        EXPECT_EQ(server.Receive(5), std::vector<uint8_t>(nke, nke + 5));
        ASSERT_TRUE(server.Send({0xE5}));
        EXPECT_EQ(ReadBytes(*port, 1), std::vector<uint8_t>{0xE5});
        EXPECT_FALSE(port->TakeErrors().Any());
        server.Close();
    }
}

// A gateway that drops an idle connection: the line layer's steps before a
// request (take the faults, purge the input, write) find the loss only in
// the purge; the request goes out on a new connection and its answer is clean.
TEST_F(TcpPortTest, IdleConnectionDroppedByTheGatewayCostsTheNextRequestNothing) {
    std::unique_ptr<SerialPort> port = Connect();
    ASSERT_NE(port, nullptr);
    server.Close();
    EXPECT_FALSE(port->TakeErrors().Any());
    ASSERT_TRUE(WaitUntil([&] {
        port->PurgeInput();
        return !static_cast<TcpPort&>(*port).Connected();
    }));
    const uint8_t request[] = {0x10, 0x5B, 0x05, 0x60, 0x16};
    ASSERT_EQ(port->Write(request, 5), 5);
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.Receive(5), std::vector<uint8_t>(request, request + 5));
    ASSERT_TRUE(server.Send({0xE5}));
    EXPECT_EQ(ReadBytes(*port, 1), std::vector<uint8_t>{0xE5});
    EXPECT_FALSE(port->TakeErrors().Any());
}

TEST_F(TcpPortTest, SendAfterTheGatewayWentAwayFailsWithoutHanging) {
    std::unique_ptr<SerialPort> port = Connect();
    ASSERT_NE(port, nullptr);
    server.Close();
    server.StopListening();
    ASSERT_TRUE(WaitUntil([&] {
        port->BytesWaiting();
        return !static_cast<TcpPort&>(*port).Connected();
    }));
    const uint8_t e5 = 0xE5;
    const auto start = Clock::now();
    EXPECT_EQ(port->Write(&e5, 1), -1);
    EXPECT_EQ(port->LastError(), ECONNREFUSED);
    EXPECT_EQ(port->Write(&e5, 1), -1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(port->TakeErrors().other);
}

// The gateway sends at the configured rate: the output is empty once the
// request has had its time on that line (33 bytes of 11 bits at 300 baud: 1.21 s).
TEST_F(TcpPortTest, OutputIsEmptyOnlyAfterTheRequestsTimeOnTheLine) {
    std::unique_ptr<SerialPort> port = Connect();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure({300, 8, 1, 1, 0, 0}));
    const std::vector<uint8_t> bytes(33, 0x55);
    const auto start = Clock::now();
    ASSERT_EQ(port->Write(bytes.data(), 33), 33);
    EXPECT_FALSE(port->OutputEmpty());
    ASSERT_TRUE(WaitUntil([&] { return port->OutputEmpty(); }, std::chrono::milliseconds(10000)));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1200));
    EXPECT_EQ(server.Receive(33).size(), 33u);
}

}  // namespace
}  // namespace mbus::serial
