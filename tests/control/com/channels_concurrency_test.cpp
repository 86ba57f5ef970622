// Four channels at once, each on its own simulated bus: their workers run
// REQ_UD2 loops and decode telegrams handed in as text while another thread
// reads properties through the dispatch interface and switches the current
// channel. Run under ThreadSanitizer, this shows the channel engine and the
// accessors free of data races.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "control/com/library.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/control/engine/engine_test_support.h"

namespace mbus::control::test {
namespace {

using namespace mbus::com;

TEST(Channels, FourChannelsAtOnceWithAReaderSwitchingChannels) {
    engine::test::SimulatedPorts ports(4, "concurrency-");
    for (int port = 1; port <= 4; ++port) {
        const std::string id = std::string(8, static_cast<char>('0' + port));
        ports.Bus(port).AddSlave("primary=" + std::to_string(port) + " id=" + id +
                                 " man=QXA version=01 medium=07 records=0413D2040000");
    }
    void* raw = nullptr;
    ASSERT_EQ(GetClassObject(CLSID_MBusOrlX4, IID_IClassFactory, &raw), S_OK);
    auto factory = ComPtr<IClassFactory>::Adopt(raw);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &raw), S_OK);
    DispatchClient reader(ComPtr<IDispatch>::Adopt(raw));

    // Channels 1..3 come into being by selection; each opens its own port.
    std::shared_ptr<engine::Channel> channels[4];
    for (int i = 0; i < 4; ++i) {
        reader.Put("APPChannel", i);
        reader.Put("COMPort", i + 1);
        reader.Call("COMOpen");
        ASSERT_EQ(reader.Long("COMIsOpen"), 0);
        channels[i] = Library::Instance().ChannelAt(i);
        ASSERT_TRUE(channels[i]);
    }

    const char* kText = "68151568080172785634120147010" "72A0000000413D2040000F616";
    std::vector<uint8_t> handed;
    for (std::size_t i = 0; i < std::strlen(kText); i += 2)
        handed.push_back(static_cast<uint8_t>(std::stoi(std::string(kText + i, 2), nullptr, 16)));

    constexpr int kRounds = 6;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> drivers;
    for (int i = 0; i < 4; ++i) {
        drivers.emplace_back([&, i] {
            engine::Channel& ch = *channels[i];
            for (int round = 0; round < kRounds; ++round) {
                ch.RequestShort(engine::kRequestREQUD2, i + 1);
                if (engine::test::WaitForResult(ch) != 3) failures.fetch_add(1);
                const auto answer = ch.Answer();
                if (!answer->telegram || answer->telegram->identNumber != (i + 1) * 0x11111111) failures.fetch_add(1);
                ch.InterpretTelegram(handed);
                if (ch.Answer()->telegram->identNumber != 0x12345678) failures.fetch_add(1);
            }
        });
    }
    std::thread readerThread([&] {
        int i = 0;
        while (!done.load()) {
            reader.Put("APPChannel", i++ % 4);
            reader.Long("APPReceiveTest");
            reader.Long("APPRetry");
            reader.Long("APPDeviceID");
            reader.Text("APPManufacturerIDAsc");
            reader.Text("APPRetrieveCookedDataHex2");
            reader.Text("APPValueDec", {1});
            reader.Text("ML2Data");
            reader.Long("ML2CField");
            reader.Long("ML1IsReceiveActive");
            reader.Long("COMPort");
            reader.Put("OPTAutoREQUD2", 1);
        }
    });
    for (std::thread& t : drivers) t.join();
    done.store(true);
    readerThread.join();
    EXPECT_EQ(failures.load(), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ports.Bus(i + 1).Frames().size(), static_cast<std::size_t>(kRounds));
}

}  // namespace
}  // namespace mbus::control::test
