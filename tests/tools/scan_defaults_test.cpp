// mbusctl scan's own line settings: with them a search finds every meter
// exactly once, also behind an echoing converter and with faults on the
// line, and the user's --retries and --search-delay win over them.

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/support/scratch.h"
#include "tests/support/sim_ports.h"
#include "tests/tools/child_process.h"
#include "tools/mbusctl/scan_defaults.h"

namespace mbus::cli::test {
namespace {

// Four meters; two share their first digit, so that the search meets a
// collision and goes one digit deeper.
const std::vector<std::string> kMeters = {"11111111", "12222222", "31415926", "87654321"};
// A seed whose faults strike the meters' answers during the search.
constexpr uint32_t kFaultSeed = 1;

// A control created in this process (as the benchmarks do), so that it
// reaches the simulated buses registered here.
ControlClient NewControl() {
    void* raw = nullptr;
    if (control::GetClassObject(control::CLSID_MBusOrlX4, com::IID_IClassFactory, &raw) != 0) return ControlClient({});
    auto factory = com::ComPtr<com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, com::IID_IDispatch, &raw) != 0) return ControlClient({});
    return ControlClient(com::ComPtr<com::IDispatch>::Adopt(raw));
}

// A secondary search with mbusctl scan's settings on a paced bus at 38400
// baud: how often each meter is in the list.
std::vector<int> SearchWithScanDefaults(const std::shared_ptr<sim::SimBus>& bus) {
    constexpr int kBaud = 38400;
    bus->SetDefaultBaud(kBaud);
    bus->SetPaced(true);
    // A meter's usual reaction time rather than the sim's 100 bit times
    // (2.6 ms here), which a busy test host may not keep up with.
    bus->SetReplyDelay(std::chrono::milliseconds(15));
    for (std::size_t i = 0; i < kMeters.size(); ++i) {
        sim::VirtualSlave slave;
        std::vector<std::string> errors;
        sim::ParseSlave("primary=" + std::to_string(i + 1) + " id=" + kMeters[i] + " man=QXA medium=07", &slave, errors);
        bus->AddSlave(std::move(slave));
    }
    testsupport::SimulatedPortMap ports("scan-defaults");
    ports.Attach(1, bus);
    const ControlClient c = NewControl();
    c.Put("COMPort", 1);
    c.Put("COMBaudrate", kBaud);
    ApplyScanDefaults(c, true, kBaud, -1, -1);
    c.Call("COMOpen");
    EXPECT_EQ(c.Long("COMIsOpen"), 0);
    c.Call("SCRSlaveSearchSecondary", {0});
    while (c.Long("SCRStatus").value_or(0) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string list = c.Text("SCRRetrieveSlaveListDec").value_or("");
    c.Call("APPCloseCom");
    std::vector<int> counts;
    for (const std::string& id : kMeters) {
        int n = 0;
        for (std::size_t at = 0; at + 51 <= list.size(); at += 51) n += list.compare(at + 3, 8, id) == 0 ? 1 : 0;
        counts.push_back(n);
    }
    return counts;
}

TEST(ScanDefaults, EveryMeterOnceWithEchoAndWithFaults) {
    const std::vector<int> once(kMeters.size(), 1);
    {
        SCOPED_TRACE("echo");
        auto bus = std::make_shared<sim::SimBus>();
        bus->SetEcho(sim::EchoMode::kFull);
        EXPECT_EQ(SearchWithScanDefaults(bus), once);
    }
    {
        // The seed strikes the meters' answers: a garbled acknowledgement
        // or answer sends the search one digit deeper, where it finds the
        // meter, and only once.
        SCOPED_TRACE("faults");
        auto bus = std::make_shared<sim::SimBus>();
        bus->SetRandomFaults(0.05, kFaultSeed);
        auto faults = std::make_shared<std::atomic<int>>(0);
        bus->SetLog([faults](const std::string& line) { *faults += line.compare(0, 6, "fault ") == 0 ? 1 : 0; });
        EXPECT_EQ(SearchWithScanDefaults(bus), once);
        EXPECT_GT(faults->load(), 0) << "no fault struck";
    }
}

class ScanProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }
    testsupport::ScratchDirectory scratch_;
};

TEST_F(ScanProgram, GivenRetriesAndSearchDelayWin) {
    // The program: the selection of an empty mask goes out as often as
    // --retries says, repetitions after the first (the defaults send it once).
    for (const char* retries : {"", "2"}) {
        SCOPED_TRACE(retries);
        ChildProcess sim(MBUS_SIM_PATH, {"--baud", "38400", "--unpaced", "--verbose", "--slave",
                                         "primary=1 id=31415926 man=QXA medium=07"});
        ASSERT_TRUE(sim.WaitForOutput("\n"));
        scratch_.WriteFile("ports", "1 = " + sim.Output().substr(0, sim.Output().find('\n')) + "\n");
        std::vector<std::string> args = {"scan", "--baud", "38400"};
        if (*retries) args.insert(args.end(), {"--retries", retries, "--search-delay", "0"});
        ChildProcess mbusctl(MBUSCTL_PATH, args,
                             {"MBUS_PORT_MAP=" + scratch_.File("ports"), "MBUS_REGISTRY=" + scratch_.File("registry"),
                              "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
        ASSERT_EQ(mbusctl.Wait(std::chrono::seconds(60)), 0) << mbusctl.Errors();
        EXPECT_NE(mbusctl.Output().find("31415926"), std::string::npos) << mbusctl.Output();
        sim.Signal(SIGTERM);
        sim.Wait();
        const std::string probe = "68 0B 0B 68 53 FD 52 FF FF FF 0F FF FF FF FF";
        int n = 0;
        for (auto at = sim.Errors().find(probe); at != std::string::npos; at = sim.Errors().find(probe, at + 1)) ++n;
        EXPECT_EQ(n, *retries ? 3 : ScanDefaultsFor(38400).tries) << sim.Errors();
    }

    // What is put into the control, read back.
    const ControlClient c = NewControl();
    const ScanDefaults& d = ScanDefaultsFor(2400);
    ApplyScanDefaults(c, true, 2400, -1, -1);
    EXPECT_EQ(c.Long("COMRetries"), d.tries);
    EXPECT_EQ(c.Long("SCRSlaveSearchDelay"), d.searchDelay);
    EXPECT_EQ(c.Long("COMTimeoutOffset"), d.timeoutOffset);
    EXPECT_EQ(c.Long("COMTimeout"), 330);
    ApplyScanDefaults(c, true, 2400, 4, 700);
    EXPECT_EQ(c.Long("COMRetries"), 4);
    EXPECT_EQ(c.Long("SCRSlaveSearchDelay"), 700);
    // A read keeps the control's pause and timing and has retries of its own.
    const ControlClient fresh = NewControl();
    ApplyScanDefaults(fresh, false, 2400, -1, -1);
    EXPECT_EQ(fresh.Long("COMRetries"), kReadRetries);
    EXPECT_EQ(fresh.Long("SCRSlaveSearchDelay"), 2000);
    EXPECT_EQ(fresh.Long("COMTimeoutOffset"), 50);
}

}  // namespace
}  // namespace mbus::cli::test
