// Helpers of the serial port tests: a pseudo-terminal pair, environment
// variables set for one test, a scratch directory, and waiting for a
// condition with a generous limit.

#pragma once

#include "tests/support/scratch.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace mbus::serial::testing {

inline constexpr std::chrono::milliseconds kPatience{2000};

// Polls `condition` every millisecond until it holds or `limit` has passed.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The master side of a pseudo-terminal; the port under test opens the slave.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) return;
        char name[256];
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
            ::close(master_);
            master_ = -1;
            return;
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        slavePath_ = name;
    }
    ~PseudoTerminal() {
        if (master_ >= 0) ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ok() const { return master_ >= 0; }
    int Master() const { return master_; }
    // Closes the master side: the slave side is hung up, as a terminal is
    // whose device was unplugged.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    const std::string& SlavePath() const { return slavePath_; }

    bool Send(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (std::chrono::steady_clock::now() >= deadline) return false;
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    }

    // Reads at the master until `count` bytes have come or the patience is over.
    std::vector<uint8_t> Receive(size_t count) {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            uint8_t buffer[512];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;

}  // namespace mbus::serial::testing
