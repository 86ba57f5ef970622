// A program run by a test: its standard input, output and error on pipes,
// extra environment variables, signals, and waiting for text it prints.

#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace mbus::cli::test {

using namespace std::chrono_literals;

class ChildProcess {
public:
    // Starts `program` with `args`; `env` entries ("NAME=VALUE") replace or
    // extend the test's environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {}) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& mine : env)
                replaced |= entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
            if (!replaced) environment.push_back(entry);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (std::string& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        // The signals the tests send act as they would from a terminal,
        // whatever the test's own starter ignored or blocked.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults, none;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        if (::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_})
            if (fd >= 0) ::close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    void Write(const std::string& text) {
        if (in_ >= 0 && ::write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) CloseInput();
    }
    void CloseInput() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }
    void Signal(int signal) const {
        if (pid_ > 0) ::kill(pid_, signal);
    }

    // Reads until standard output (or error) holds `text` or `patience`
    // has passed; true when it came.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds patience = 20s) {
        return WaitFor(output_, text, patience);
    }
    bool WaitForErrors(const std::string& text, std::chrono::milliseconds patience = 20s) {
        return WaitFor(errors_, text, patience);
    }

    // Reads until standard output is longer than `size` bytes or `patience`
    // has passed; true when it grew.
    bool WaitForOutputPast(std::size_t size, std::chrono::milliseconds patience = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (output_.size() <= size) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Drain(std::min(left, std::chrono::milliseconds(100)))) return false;
        }
        return true;
    }

    // Waits for the end and reads what is left: the exit code, 128 + the
    // signal that ended it, or -1 when it did not end within `patience`.
    int Wait(std::chrono::milliseconds patience = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                const auto limit = std::chrono::steady_clock::now() + 2s;
                while ((out_ >= 0 || err_ >= 0) && std::chrono::steady_clock::now() < limit) Drain(100ms);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= deadline) return -1;
            Drain(10ms);
        }
        return -1;
    }

    const std::string& Output() const { return output_; }
    const std::string& Errors() const { return errors_; }

private:
    // Moves what the pipes hold into output_ and errors_, waiting up to
    // `patience` for something to come; false when both pipes are closed.
    bool Drain(std::chrono::milliseconds patience) {
        pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0) return false;
        if (::poll(p, 2, static_cast<int>(patience.count())) <= 0) return true;
        const int fds[2] = {out_, err_};
        std::string* into[2] = {&output_, &errors_};
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || p[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i], buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i]);
                (i == 0 ? out_ : err_) = -1;
            }
        }
        return true;
    }
    bool WaitFor(const std::string& stream, const std::string& text, std::chrono::milliseconds patience) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (stream.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Drain(std::min(left, std::chrono::milliseconds(100)))) return false;
        }
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string output_, errors_;
};

}  // namespace mbus::cli::test
