// The long soak: REQ_UD2 read-outs through the channel engine on simulated
// lines that harm a share of the answers (see tests/support/soak.h), with
// the figures printed at the end. Wrong-content accepted must stay 0.
//
//   soak_bench [TRANSACTIONS [SEED [PROBABILITY]]]
//   (defaults 100000, 1, 0.3; MBUS_SOAK_COUNT and MBUS_SOAK_SEED are read
//   when no argument is given)
//
// Exit status 1 when anything harmed was accepted or a failure was not
// reported as a fault.

#include <cstdio>
#include <cstdlib>

#include "tests/support/soak.h"

int main(int argc, char** argv) {
    mbus::testsupport::SoakSettings s;
    s.transactions = 100000;
    if (const char* v = std::getenv("MBUS_SOAK_COUNT")) s.transactions = std::atoi(v);
    if (const char* v = std::getenv("MBUS_SOAK_SEED")) s.seed = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    if (argc > 1) s.transactions = std::atoi(argv[1]);
    if (argc > 2) s.seed = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    if (argc > 3) s.probability = std::atof(argv[3]);
    if (s.transactions <= 0 || s.probability < 0 || s.probability > 1) {
        std::fprintf(stderr, "usage: soak_bench [TRANSACTIONS [SEED [PROBABILITY]]]\n");
        return 2;
    }
    const mbus::testsupport::SoakFigures f = mbus::testsupport::RunSoak(s);
    std::printf("seed                   %u\n", s.seed);
    std::printf("harm probability       %.2f\n", s.probability);
    std::printf("transactions           %d\n", f.transactions);
    std::printf("accepted at once       %d\n", f.firstAttempt);
    std::printf("repeated, accepted     %d\n", f.repeated);
    std::printf("failed                 %d (every answer harmed: %d)\n", f.failed, f.failedAllHarmed);
    std::printf("answers harmed         %d (drop %d, flip %d, insert %d, cut %d)\n", f.harmedAnswers, f.harms[1],
                f.harms[2], f.harms[3], f.harms[4]);
    std::printf("wrong content accepted %d\n", f.wrongAccepted);
    std::printf("failure not a fault    %d\n", f.wrongFailure);
    std::printf("unfinished             %d\n", f.unfinished);
    std::printf("time                   %.1f s (%.2f ms a transaction)\n", f.seconds,
                f.transactions > 0 ? 1000.0 * f.seconds / f.transactions : 0.0);
    if (!f.firstProblem.empty()) std::printf("first problem          %s\n", f.firstProblem.c_str());
    return f.wrongAccepted == 0 && f.wrongFailure == 0 && f.unfinished == 0 ? 0 : 1;
}
