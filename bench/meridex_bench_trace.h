// What the configuration program's benchmarks share beyond the line
// timeline (bench/line_timeline.h): a watch that
// polls the control every millisecond for the ends of scripts and the
// length of each transaction. The program itself never looks at what the
// watch reads; it only explains where the time of a job went.

#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include "configurator/shell/control.h"
#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "bench/line_timeline.h"
#include "control/line/layer1.h"
#include "platform/com/types.h"
#include "platform/serial/simulated_port.h"
#include "sim/sim_bus.h"

namespace mbus::bench {

namespace mx = mbus::meridex;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Watches the control every millisecond: when a script ends (SCRStatus
// back to 0) and how long each transaction runs (APPReceiveTest 255), so
// that the report can split a gap into the line, the script step and the
// ticks. The program itself never looks at APPReceiveTest.
class ControlWatch {
public:
    explicit ControlWatch(const mx::Control& control) : control_(control) {
        const char16_t* name = u"APPReceiveTest";
        if (control_.Dispatch()->GetIDsOfNames(mbus::com::IID_NULL, &name, 1, 0, &receiveTest_) != 0) receiveTest_ = -1;
        thread_ = std::thread([this] { Run(); });
    }
    ~ControlWatch() {
        stop_.store(true);
        thread_.join();
    }
    std::vector<Clock::time_point> ScriptEnds() {
        std::lock_guard lock(mutex_);
        return scriptEnds_;
    }
    std::vector<double> Transactions() {
        std::lock_guard lock(mutex_);
        return transactions_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        scriptEnds_.clear();
        transactions_.clear();
    }

private:
    static constexpr int32_t kRunning = 255;

    int32_t ReceiveTest() const {
        if (receiveTest_ < 0) return 0;
        mbus::com::VARIANT result;
        mbus::com::VariantInit(&result);
        mbus::com::DISPPARAMS none{nullptr, nullptr, 0, 0};
        const mbus::com::HRESULT hr = control_.Dispatch()->Invoke(receiveTest_, mbus::com::IID_NULL, 0,
                                                                  mbus::com::DISPATCH_PROPERTYGET, &none, &result,
                                                                  nullptr, nullptr);
        const int32_t value = hr == 0 && result.vt == mbus::com::VT_I4 ? result.lVal : 0;
        mbus::com::VariantClear(&result);
        return value;
    }

    void Run() {
        int32_t lastStatus = 0;
        bool running = false;
        Clock::time_point since{};
        while (!stop_.load()) {
            const int32_t status = control_.SCRStatus();
            const bool transaction = ReceiveTest() == kRunning;
            const Clock::time_point now = Clock::now();
            std::lock_guard lock(mutex_);
            if (transaction && !running) since = now;
            if (!transaction && running) transactions_.push_back(Ms(now - since));
            running = transaction;
            if (lastStatus != 0 && status == 0) scriptEnds_.push_back(now);
            lastStatus = status;
            std::this_thread::sleep_for(1ms);
        }
    }

    const mx::Control& control_;
    mbus::com::DISPID receiveTest_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Clock::time_point> scriptEnds_;
    std::vector<double> transactions_;
    std::thread thread_;
};

// The control in-process, with port 1 leading to a simulated bus through a
// port map of the process's own, which goes with the object.
struct BenchControl {
    explicit BenchControl(mx::Control c, std::filesystem::path m) : control(std::move(c)), map(std::move(m)) {}
    ~BenchControl() {
        std::error_code ec;
        std::filesystem::remove(map, ec);
    }
    BenchControl(const BenchControl&) = delete;
    BenchControl& operator=(const BenchControl&) = delete;
    mx::Control control;
    std::filesystem::path map;
};

// Points port 1 at the simulated bus `busName` and creates the control;
// nothing (after a line on stderr naming `program`) when it cannot be created.
inline std::unique_ptr<BenchControl> ControlOnSimulatedBus(const char* program, const char* busName) {
    const auto map = std::filesystem::temp_directory_path() /
                     (std::string(program) + "-ports-" + std::to_string(::getpid()));
    std::ofstream(map) << "1 = sim:" << busName << "\n";
    ::setenv("MBUS_PORT_MAP", map.c_str(), 1);
    void* raw = nullptr;
    if (mbus::control::GetClassObject(mbus::control::CLSID_MBusOrlX4, mbus::com::IID_IClassFactory, &raw) != 0) {
        std::fprintf(stderr, "%s: no class object of the control\n", program);
        return nullptr;
    }
    auto factory = mbus::com::ComPtr<mbus::com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, mbus::control::IID_IMBusOrlX4, &raw) != 0) {
        std::fprintf(stderr, "%s: the control cannot be created\n", program);
        return nullptr;
    }
    return std::make_unique<BenchControl>(
        mx::Control(mbus::com::ComPtr<mbus::com::IDispatch>::Adopt(static_cast<mbus::com::IDispatch*>(raw))), map);
}

}  // namespace mbus::bench
