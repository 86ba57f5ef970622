// The control as its clients meet it: the shared library registered,
// created by its class identifier and called by name, and mbusctl session
// driving it against mbus-sim on a pseudo-terminal.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "control/com/identifiers.h"
#include "control/decode/options.h"
#include "platform/com/create.h"
#include "platform/com/registry.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/sim/sim_process.h"
#include "tests/support/scratch.h"
#include "tools/mbusctl/meter_commands.h"
#include "tools/mbusctl/session_command.h"

namespace mbus::control::test {
namespace {

using namespace mbus::com;
using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;

class Library : public ::testing::Test {
protected:
    ScratchDirectory scratch_;
    ScopedEnv registry_{"MBUS_REGISTRY", scratch_.Path() + "/registry"};
    ScopedEnv library_{"MBUS_CONTROL_LIBRARY", MBUS_CONTROL_LIBRARY_PATH};

    static HRESULT CallExport(const char* name) {
        void* handle = ::dlopen(MBUS_CONTROL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << ::dlerror();
        if (handle == nullptr) return E_FAIL;
        auto f = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, name));
        const HRESULT hr = f != nullptr ? f() : E_FAIL;
        ::dlclose(handle);
        return hr;
    }
};

TEST_F(Library, RegistrationRoundTrip) {
    ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
    Registry reg;
    const std::string key = "HKCR\\CLSID\\" + FormatGuid(CLSID_MBusOrlX4);
    EXPECT_EQ(reg.GetValue(key), "MBusOrlX4 Class");
    EXPECT_EQ(reg.GetValue(key + "\\ProgID"), "MBusOrlX4.MBusOrlX4.1");
    EXPECT_EQ(reg.GetValue(key + "\\VersionIndependentProgID"), "MBusOrlX4.MBusOrlX4");
    const std::optional<std::string> path = reg.GetValue(key + "\\InprocServer32");
    ASSERT_TRUE(path.has_value());
    EXPECT_NE(path->find("libMBusOrlX4Ctrl.so"), std::string::npos);
    EXPECT_EQ(reg.GetValue(key + "\\InprocServer32", "ThreadingModel"), "Free");
    EXPECT_TRUE(reg.KeyExists(key + "\\Control"));
    EXPECT_TRUE(reg.KeyExists(key + "\\Programmable"));
    EXPECT_TRUE(reg.KeyExists(key + "\\Insertable"));
    EXPECT_EQ(reg.GetValue(key + "\\ToolboxBitmap32"), *path + ", 1");
    EXPECT_EQ(reg.GetValue(key + "\\MiscStatus"), "0");
    EXPECT_EQ(reg.GetValue(key + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(reg.GetValue(key + "\\TypeLib"), FormatGuid(LIBID_MBusOrlX4CTRLLib));
    EXPECT_EQ(reg.GetValue(key + "\\Version"), "1.0");
    EXPECT_EQ(reg.GetValue("HKCR\\MBusOrlX4.MBusOrlX4\\CurVer"), "MBusOrlX4.MBusOrlX4.1");

    // Created by its class identifier, found through either ProgID.
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID("MBusOrlX4.MBusOrlX4", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_MBusOrlX4);
    {
        ComPtr<IDispatch> control;
        ASSERT_EQ(CreateInstance(CLSID_MBusOrlX4, IID_IDispatch, &control), S_OK) << LastCreateError();
        DispatchClient c(control);
        EXPECT_EQ(c.Long("APPVersion"), 134);
        c.Put("APPChannel", 2);
        EXPECT_EQ(c.Long("APPChannel"), 2);
        ComPtr<IDispatch> typed;
        ASSERT_EQ(CreateInstance(CLSID_MBusOrlX4, IID_IMBusOrlX4, &typed), S_OK);
        EXPECT_EQ(DispatchClient(typed).Long("APPChannel"), 0) << "a second creation resets the library";
    }

    ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(reg.KeyExists(key));
    EXPECT_FALSE(reg.KeyExists("HKCR\\MBusOrlX4.MBusOrlX4.1"));
    EXPECT_FALSE(reg.KeyExists("HKCR\\MBusOrlX4.MBusOrlX4"));
    EXPECT_TRUE(reg.KeyExists("HKCR\\CLSID"));
    EXPECT_TRUE(reg.KeyExists("HKCR\\TypeLib\\" + FormatGuid(LIBID_MBusOrlX4CTRLLib)));
    ComPtr<IDispatch> none;
    EXPECT_EQ(CreateInstance(CLSID_MBusOrlX4, IID_IDispatch, &none), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(none);
    EXPECT_NE(LastCreateError(), "");
}

// A program that loads the library at run time reaches its exported globals
// by name: they are the objects the library's code reads and writes.
TEST_F(Library, ALoadingProgramSharesTheExportedGlobals) {
    void* handle = ::dlopen(MBUS_CONTROL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* language = static_cast<std::atomic<int32_t>*>(::dlsym(handle, "MBusLanguage"));
    auto* options = static_cast<MBusOptionStruct*>(::dlsym(handle, "MBusOption"));
    auto getClassObject =
        reinterpret_cast<HRESULT (*)(const CLSID&, const IID&, void**)>(::dlsym(handle, "DllGetClassObject"));
    ASSERT_NE(language, nullptr);
    ASSERT_NE(options, nullptr);
    ASSERT_NE(getClassObject, nullptr);
    void* raw = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MBusOrlX4, IID_IClassFactory, &raw), S_OK);
    auto factory = ComPtr<IClassFactory>::Adopt(raw);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &raw), S_OK);
    {
        DispatchClient c(ComPtr<IDispatch>::Adopt(raw));
        c.Put("LNGLanguage", 4);
        EXPECT_EQ(language->load(), 4);
        language->store(1);
        EXPECT_EQ(c.Long("LNGLanguage"), 1);
        options->OPTMessagesOn.store(1);
        EXPECT_EQ(c.Long("OPTMessagesOn"), 1);
        c.Put("LNGLanguage", 0);
        options->Reset();
    }
    factory.Reset();
    ::dlclose(handle);
}

struct SessionRun {
    int rc;
    std::string out, err;
};

SessionRun Session(const std::string& calls, std::vector<std::string> options = {}) {
    std::istringstream in(calls);
    std::ostringstream out, err;
    const int rc = cli::RunSession(options, in, out, err);
    return {rc, out.str(), err.str()};
}

TEST_F(Library, SessionAgainstSimulatedSlavesOnAPseudoTerminal) {
    sim::test::SimProcess sim(MBUS_SIM_PATH,
                              {"--slave", "primary=1 id=11111111 man=QXA version=01 medium=07 records=0C1378563412",
                               "--slave", "primary=2 id=22222222 man=QXB version=14 medium=04 records=0C0611470000"});
    ASSERT_TRUE(sim.Started());
    const std::string tty = sim.ReadLine();
    ASSERT_FALSE(tty.empty()) << sim.ReadErrors(std::chrono::seconds(1));
    std::ofstream(scratch_.Path() + "/ports") << "1 = " << tty << "\n";
    ScopedEnv ports("MBUS_PORT_MAP", scratch_.Path() + "/ports");

    const SessionRun r = Session(
        "COMPort = 1\n"
        "COMOpen\n"
        "COMIsOpen\n"
        "APPREQUD2 1\n"
        "wait\n"
        "APPReceiveTest\n"
        "APPDeviceID\n"
        "APPManufacturerIDAsc\n"
        "APPValueDec 1\n"
        "APPREQUD2 2\n"
        "wait\n"
        "APPRetrieveCookedDataHex2\n"
        "APPSelect 0, \"22222222\", \"FFFF\", \"FF\", \"FF\"\n"
        "wait\n"
        "APPReceiveTest\n"
        "APPREQUD2 253\n"
        "wait\n"
        "APPMediumAsc\n"
        "NoSuchThing\n"
        "APPCloseCom\n");
    EXPECT_EQ(r.rc, 1) << "one line failed";
    EXPECT_NE(r.err.find("registering"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NoSuchThing"), std::string::npos) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    const std::vector<std::string> expected = {
        "0",           "3", "286331153", "QXA", "12345678",
        "03010108027222222222QXB140000000004Heat_(outlet)|000000000000000000000000000000000C0006|00004711|",
        "0",           "Heat_(outlet)"};
    EXPECT_EQ(got, expected) << r.out;
}

TEST_F(Library, ScanAndReadThroughTheControl) {
    sim::test::SimProcess sim(MBUS_SIM_PATH,
                              {"--baud", "38400", "--unpaced", "--slave",
                               "primary=1 id=12345678 man=QXA version=01 medium=07 records=0413D2040000", "--slave",
                               "primary=2 id=12349999 man=QXB version=14 medium=04 records=0C0611470000 records=0C1389670000",
                               "--slave", "primary=3 id=55000001 man=ZZW version=02 medium=02 records=0403E8030000"});
    ASSERT_TRUE(sim.Started());
    const std::string tty = sim.ReadLine();
    ASSERT_FALSE(tty.empty()) << sim.ReadErrors(std::chrono::seconds(1));
    std::ofstream(scratch_.Path() + "/ports") << "1 = " << tty << "\n";
    ScopedEnv ports("MBUS_PORT_MAP", scratch_.Path() + "/ports");

    std::ostringstream out, err;
    ASSERT_EQ(cli::RunScan({"--port", "1", "--baud", "38400", "--search-delay", "0", "--json"}, out, err), 0)
        << err.str();
    EXPECT_EQ(out.str(),
              "[{\"a\":1,\"secondaryAddress\":\"1234567847010107\",\"identNumber\":\"12345678\","
              "\"manufacturer\":\"QXA\",\"version\":1,\"medium\":7,\"mediumText\":\"Water\"},"
              "{\"a\":2,\"secondaryAddress\":\"1234999947021404\",\"identNumber\":\"12349999\","
              "\"manufacturer\":\"QXB\",\"version\":20,\"medium\":4,\"mediumText\":\"Heat_(outlet)\"},"
              "{\"a\":3,\"secondaryAddress\":\"550000016B570202\",\"identNumber\":\"55000001\","
              "\"manufacturer\":\"ZZW\",\"version\":2,\"medium\":2,\"mediumText\":\"Electricity\"}]\n");
    EXPECT_NE(err.str().find("3 slaves found"), std::string::npos) << err.str();

    // A primary and a secondary address, and one nobody has; the meter with
    // two telegrams is read twice and printed as one readout.
    std::ostringstream table, readErr;
    EXPECT_EQ(cli::RunRead({"--port", "1", "--baud", "38400", "1", "12349999", "77"}, table, readErr), 1);
    const std::string t = table.str();
    EXPECT_NE(t.find("Identification  12345678"), std::string::npos) << t;
    EXPECT_NE(t.find("1.234  m\u00B3"), std::string::npos);
    EXPECT_NE(t.find("Meter 2: address 12349999, read at "), std::string::npos) << t;
    EXPECT_NE(t.find("(2 telegrams)"), std::string::npos) << "the second telegram of 12349999";
    EXPECT_NE(t.find("6.789  m\u00B3"), std::string::npos);
    EXPECT_NE(readErr.str().find("77 did not answer"), std::string::npos) << readErr.str();

    std::ostringstream none, usage;
    EXPECT_EQ(cli::RunRead({"--port", "1", "abc"}, none, usage), 2);
    EXPECT_NE(usage.str().find("is no address"), std::string::npos);
}

}  // namespace
}  // namespace mbus::control::test
