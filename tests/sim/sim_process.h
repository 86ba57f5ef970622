// Starts mbus-sim for a test and talks to its standard output and error.

#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace mbus::sim::test {

using namespace std::chrono_literals;

// Reads what arrives on `fd` until `count` bytes came or `patience` passed.
inline std::vector<uint8_t> ReadFor(int fd, std::size_t count, std::chrono::milliseconds patience) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

// The running program with pipes on its standard output and error.
class SimProcess {
public:
    SimProcess(const std::string& program, const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // The first line of standard output (the terminal's path).
    std::string ReadLine(std::chrono::milliseconds patience = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (;;) {
            const std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                const std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            const std::vector<uint8_t> b = ReadFor(out_, 1, left);
            if (b.empty()) return {};
            pending_.append(b.begin(), b.end());
        }
    }

    // Everything on standard error until the program closes it.
    std::string ReadErrors(std::chrono::milliseconds patience = 10s) {
        const std::vector<uint8_t> b = ReadFor(err_, 1 << 20, patience);
        return std::string(b.begin(), b.end());
    }

    // Waits for the exit; returns the exit code, or -1 (killed, or too slow).
    int Wait(std::chrono::seconds patience = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    int Terminate(int signal = SIGTERM) {
        kill(pid_, signal);
        return Wait();
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string pending_;  // read from standard output, not yet taken
};


}  // namespace mbus::sim::test
