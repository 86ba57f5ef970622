// Wall time of line transactions on the paced simulated bus, beside the
// timeline that the line rules give:
//
//   REQ_UD2 with a 100-byte answer:
//     request (5 characters) + the slave's reply delay + the answer
//     (100 characters) + the byte timeout that ends the reception
//     (PartWait adds nothing: the answer takes longer than the answer part)
//   probe of an empty address:
//     request + dead time + answer timeout
//
// where a character takes 11 bit times. Line settings: TA 330, TO 50, TB 1,
// DT 11, PartWait, FIFO on (the defaults of a connection line).
//
//   line_bench [RUNS]   (default 15 runs per case; prints medians)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include "control/link/layer2.h"
#include "sim/sim_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One request and its reception polled to the end, as a channel does; ms.
double Transaction(MBLayer2& l2, int C, int A, int* result) {
    const auto start = Clock::now();
    l2.SendShortFrame(C, A);
    int c, a, ci, len, got;
    uint8_t* data;
    while ((*result = l2.ReceiveTelegram(&c, &a, &ci, &data, &len, &got)) == mbus::link::kRecBusy)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    // A slave whose RSP_UD is 100 bytes: 19 of header, 79 of records, checksum and stop.
    std::vector<uint8_t> records;
    for (int i = 0; i < 13; ++i) records.insert(records.end(), {0x0C, 0x13, static_cast<uint8_t>(i), 0x00, 0x00, 0x00});
    records.push_back(0x2F);
    mbus::sim::VirtualSlave slave;
    slave.values.primaryAddress = 1;
    slave.values.SetUserData(records.data(), static_cast<int>(records.size()));

    const auto map = std::filesystem::temp_directory_path() / ("mbus-line-bench-" + std::to_string(::getpid()));
    std::ofstream(map) << "1 = sim:bench\n";
    ::setenv("MBUS_PORT_MAP", map.c_str(), 1);

    std::printf("%-8s %-32s %10s %10s %8s %8s\n", "baud", "transaction", "median ms", "timeline", "diff", "result");
    int status = 0;
    for (int baud : {2400, 9600}) {
        auto bus = std::make_shared<mbus::sim::SimBus>();
        bus->SetDefaultBaud(baud);
        bus->SetPaced(true);
        bus->AddSlave(slave);
        mbus::serial::RegisterSimulatedBus("bench", bus);
        MBLayer2 l2;
        if (l2.line.CInit(1, baud, 8, 1, 1, 0, 0, 0, 0) != 1) {
            std::fprintf(stderr, "line_bench: cannot open the simulated line: %s\n", l2.line.lastErrorText.c_str());
            return 1;
        }
        l2.line.MInit(330, 50, 1, 11, mbus::line::kPartWait, 1);
        const mbus::line::LineTimings& t = l2.line.timings;
        const double bit = 1000.0 / baud, ch = 11 * bit;
        const double reply = mbus::sim::SimBus::kDefaultReplyDelayBits * bit;

        std::vector<double> read, probe;
        int code = 0, length = 0;
        for (int i = 0; i < runs; ++i) {
            int r;
            read.push_back(Transaction(l2, 0x5B, 1, &r));
            code = r;
            length = l2.line.receiveCountCopy.load();
            probe.push_back(Transaction(l2, 0x5B, 7, &r));
        }
        const double readLine = 5 * ch + reply + 100 * ch + t.byteTimeout;
        const double probeLine = 5 * ch + t.deadTime + t.answerTimeout;
        const double readMedian = Median(read), probeMedian = Median(probe);
        std::printf("%-8d %-32s %10.1f %10.1f %+8.1f %8s\n", baud, "REQ_UD2, 100-byte answer", readMedian, readLine,
                    readMedian - readLine, code == 3 && length == 100 ? "RSP_UD" : "FAULT");
        std::printf("%-8d %-32s %10.1f %10.1f %+8.1f %8s\n", baud, "probe of an empty address", probeMedian,
                    probeLine, probeMedian - probeLine, "timeout");
        if (code != 3 || length != 100) status = 1;
        mbus::serial::UnregisterSimulatedBus("bench");
    }
    std::filesystem::remove(map);
    return status;
}
