// What the bridge's benchmarks share on the MQTT side: a mosquitto broker
// of their own (Debian's /usr/sbin/mosquitto, or $MOSQUITTO) on a free
// port of 127.0.0.1 with a configuration file in a temporary directory,
// stopped with the object; and a libmosquitto subscriber in the
// benchmark's process that notes every message with the steady clock's
// time it arrived.

#pragma once

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/child_process.h"

namespace mbus::bench {

// A port of 127.0.0.1 that nothing listens on now; 0 when none was given.
inline int FreeLocalPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

inline bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

class Broker {
public:
    // Starts the broker; Problem() says why when Port() is 0.
    Broker() {
        const char* own = std::getenv("MOSQUITTO");
        const std::string program = own != nullptr && *own != '\0' ? own : "/usr/sbin/mosquitto";
        std::string pattern = (std::filesystem::temp_directory_path() / "mbus-bench-broker.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            problem_ = "cannot create a temporary directory for the broker's configuration";
            return;
        }
        directory_ = pattern;
        const int port = FreeLocalPort();
        std::ofstream(directory_ / "mosquitto.conf") << "listener " << port << " 127.0.0.1\n"
                                                     << "allow_anonymous true\npersistence false\n";
        process_.emplace(program, std::vector<std::string>{"-c", (directory_ / "mosquitto.conf").string()});
        if (!process_->Started()) {
            problem_ = program + " could not be started (install Debian's mosquitto, or set MOSQUITTO)";
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (Accepts(port)) {
                port_ = port;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        problem_ = program + " did not listen on 127.0.0.1:" + std::to_string(port) + " within 10 s";
    }
    ~Broker() {
        if (process_) {
            process_->Signal(SIGTERM);
            process_->Wait(std::chrono::seconds(5));
        }
        std::error_code ec;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ec);
    }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return process_ ? process_->Pid() : -1; }
    const std::string& Problem() const { return problem_; }

private:
    std::filesystem::path directory_;
    std::optional<cli::test::ChildProcess> process_;
    int port_ = 0;
    std::string problem_;
};

// A message as the subscriber got it.
struct Received {
    std::string topic;
    std::string payload;
    std::chrono::steady_clock::time_point at;
};

class Subscriber {
public:
    // Subscribes to `filter` at the broker on 127.0.0.1:port with `qos`
    // and notes what comes; Ready() once the subscription is acknowledged.
    Subscriber(int port, const std::string& filter, int qos = 1) : filter_(filter), qos_(qos) {
        // Once a process, as the bridge's link does; never cleaned up, since
        // a link may still use the library.
        static std::once_flag once;
        std::call_once(once, [] { mosquitto_lib_init(); });
        client_ = mosquitto_new(nullptr, true, this);
        if (client_ == nullptr) return;
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) {
                auto* me = static_cast<Subscriber*>(self);
                mosquitto_subscribe(m, nullptr, me->filter_.c_str(), me->qos_);
            }
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_.store(true);
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
            const auto now = std::chrono::steady_clock::now();
            auto* me = static_cast<Subscriber*>(self);
            std::lock_guard lock(me->mutex_);
            me->received_.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                 now});
        });
        if (mosquitto_connect(client_, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS) started_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
    }
    ~Subscriber() {
        if (client_ != nullptr) {
            mosquitto_disconnect(client_);
            if (started_) mosquitto_loop_stop(client_, false);
            mosquitto_destroy(client_);
        }
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Waits up to 10 s for the subscription.
    bool Ready() const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (started_ && !subscribed_.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return subscribed_.load();
    }
    std::vector<Received> Messages() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    // Waits until `count` messages have come, or none came for `quiet`, or
    // `patience` has passed; the number that came.
    std::size_t WaitFor(std::size_t count, std::chrono::milliseconds patience,
                        std::chrono::milliseconds quiet = std::chrono::milliseconds(3000)) {
        const auto until = std::chrono::steady_clock::now() + patience;
        std::size_t last = Count();
        auto lastChange = std::chrono::steady_clock::now();
        while (last < count && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::size_t now = Count();
            if (now != last) {
                last = now;
                lastChange = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastChange >= quiet) {
                break;
            }
        }
        return Count();
    }

private:
    std::string filter_;
    int qos_ = 1;
    mosquitto* client_ = nullptr;
    bool started_ = false;
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    std::vector<Received> received_;
};

}  // namespace mbus::bench
