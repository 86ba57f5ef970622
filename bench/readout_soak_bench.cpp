// The long soak of whole readouts through the programs (see
// tests/support/readout_soak.h): mbus-sim's one-, two- and three-telegram
// meters read by separate mbusctl processes, at each fault rate given, and
// 20 fault-free reads of the three-telegram meter. Prints, per rate, the
// correct readouts, the failures reported as failures and the false
// successes (stale, partial or wrong values delivered), which must be 0.
//
//   readout_soak_bench [READOUTS [SEED [RATE...]]]   (defaults 1000, 1, 0.2 0.4)
//
// MBUS_SOAK_MBUSCTL, MBUS_SOAK_SIM and MBUS_SOAK_CONTROL_LIBRARY name copies
// of the programs and the control library to run instead of the build's.
//
// Exit status 1 when there was a false success.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/readout_soak.h"

namespace {

bool Report(const char* what, const mbus::testsupport::ReadoutSoakFigures& f, double seconds) {
    std::printf("%s\n", what);
    std::printf("  readouts               %d\n", f.readouts);
    std::printf("  correct                %d\n", f.correct);
    std::printf("  failed, reported       %d\n", f.failedAsFailed);
    std::printf("  false successes        %d\n", f.falseSuccess);
    std::printf("  time                   %.1f s\n", seconds);
    if (!f.simulatorStarted) std::printf("  mbus-sim did not start\n");
    if (!f.firstProblem.empty()) std::printf("  first false success    %s\n", f.firstProblem.c_str());
    std::fflush(stdout);
    return f.simulatorStarted && f.falseSuccess == 0;
}

}  // namespace

int main(int argc, char** argv) {
    using mbus::testsupport::ReadoutSoakSettings;
    using mbus::testsupport::RunReadoutSoak;
    const int meters = static_cast<int>(mbus::testsupport::SoakMeters().size());
    const int readouts = argc > 1 ? std::atoi(argv[1]) : 1000;
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
    std::vector<double> rates;
    for (int i = 3; i < argc; ++i) rates.push_back(std::atof(argv[i]));
    if (rates.empty()) rates = {0.2, 0.4};
    if (readouts <= 0) {
        std::fprintf(stderr, "usage: readout_soak_bench [READOUTS [SEED [RATE...]]]\n");
        return 2;
    }
    bool ok = true;
    auto timed = [](const ReadoutSoakSettings& s) {
        const auto start = std::chrono::steady_clock::now();
        auto f = RunReadoutSoak(s, stderr);
        return std::make_pair(f, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    };
    {
        ReadoutSoakSettings s;
        s.processes = 20;
        s.probability = 0;
        s.addresses = {"3"};
        const auto [f, seconds] = timed(s);
        ok &= Report("20 separate processes, three-telegram meter, no faults", f, seconds);
    }
    for (const double rate : rates) {
        ReadoutSoakSettings s;
        s.processes = (readouts + meters - 1) / meters;
        s.probability = rate;
        s.seed = seed;
        const auto [f, seconds] = timed(s);
        char title[96];
        std::snprintf(title, sizeof title, "fault rate %.0f %%, seed %u, %d processes of %d readouts", rate * 100, seed,
                      s.processes, meters);
        ok &= Report(title, f, seconds);
    }
    return ok ? 0 : 1;
}
