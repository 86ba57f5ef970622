#include "platform/serial/tcp_port.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace mbus::serial {
namespace {

using Clock = std::chrono::steady_clock;

// Why the last open of a device failed, until one succeeds.
std::mutex g_failuresMutex;
std::map<std::string, std::string> g_failures;

void RememberFailure(const std::string& device, const std::string& reason) {
    std::lock_guard lock(g_failuresMutex);
    if (reason.empty()) g_failures.erase(device);
    else g_failures[device] = reason;
}

// Connects one address; returns the socket or -1 with *error set.
int ConnectAddress(const addrinfo& address, Clock::time_point deadline, int* error) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            *error = errno;
            ::close(fd);
            return -1;
        }
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                *error = ETIMEDOUT;
                ::close(fd);
                return -1;
            }
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                *error = errno;
                ::close(fd);
                return -1;
            }
            if (ready > 0) break;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
        if (soError != 0) {
            *error = soError;
            ::close(fd);
            return -1;
        }
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

std::string ReasonOf(int error, int timeoutMs) {
    if (error == ETIMEDOUT) return "no answer within " + std::to_string((timeoutMs + 999) / 1000) + " s";
    if (error == ECONNREFUSED) return "connection refused (nothing listens there)";
    return std::strerror(error);
}

}  // namespace

int ConnectTcp(const TcpEndpoint& endpoint, int timeoutMs, int* error, std::string* reason) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: on a host with only a loopback interface it would
    // refuse even 127.0.0.1.
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(endpoint.port);
    const int rc = ::getaddrinfo(endpoint.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        *error = rc == EAI_SYSTEM ? errno : rc == EAI_AGAIN ? EAGAIN : ENXIO;
        *reason = std::string("host name not found (") + ::gai_strerror(rc) + ")";
        return -1;
    }
    // The reason of the first address is the one told: later addresses are
    // alternatives (IPv4 after IPv6) that usually fail the same way.
    int first = 0;
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        int err = 0;
        fd = ConnectAddress(*a, deadline, &err);
        if (fd < 0 && first == 0) first = err;
        if (Clock::now() >= deadline) break;
    }
    ::freeaddrinfo(found);
    if (fd >= 0) return fd;
    *error = first != 0 ? first : ETIMEDOUT;
    *reason = ReasonOf(*error, timeoutMs);
    return -1;
}

TcpPort::TcpPort(int fd, std::string device, TcpEndpoint endpoint)
    : fd_(fd), device_(std::move(device)), endpoint_(std::move(endpoint)), wireFreeAt_(Clock::now()) {}

TcpPort::~TcpPort() {
    if (fd_ >= 0) ::close(fd_);
}

bool TcpPort::Configure(const SerialConfig& config) {
    std::lock_guard lock(mutex_);
    const bool good = config.baud > 0 && config.dataBits >= 5 && config.dataBits <= 8 &&
                      (config.stopBits == 1 || config.stopBits == 2 || config.stopBits == -1) && config.parity >= 0 &&
                      config.parity <= 2;
    if (!good) {
        lastError_ = EINVAL;
        return false;
    }
    config_ = config;
    return true;
}

SerialConfig TcpPort::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

bool TcpPort::Connected() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

std::chrono::nanoseconds TcpPort::LineTime(int count) const {
    std::lock_guard lock(mutex_);
    return CharacterTime(config_) * count;
}

void TcpPort::Lose(int err) {
    ::close(fd_);
    fd_ = -1;
    cut_ = true;
    lastError_ = err != 0 ? err : ECONNRESET;
    const std::string why = err != 0 ? std::strerror(err) : "closed by the gateway";
    std::fprintf(stderr, "mbus: %s: connection lost (%s); the next send connects again\n", device_.c_str(),
                 why.c_str());
}

void TcpPort::Fill() {
    if (fd_ < 0) return;
    uint8_t buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            held_.insert(held_.end(), buffer, buffer + n);
            continue;
        }
        if (n == 0) {
            Lose(0);
            return;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) Lose(errno);
        return;
    }
}

int TcpPort::Write(const uint8_t* data, int n) {
    std::lock_guard lock(mutex_);
    if (n <= 0) return 0;
    if (fd_ < 0) {
        int err = 0;
        std::string reason;
        fd_ = ConnectTcp(endpoint_, kTcpConnectTimeoutMs, &err, &reason);
        if (fd_ < 0) {
            lastError_ = err;
            std::fprintf(stderr, "mbus: %s: cannot connect again: %s\n", device_.c_str(), reason.c_str());
            return -1;
        }
        // The cut belonged to the connection before; nothing of it is left.
        cut_ = false;
        held_.clear();
        wireFreeAt_ = Clock::now();
    }
    ssize_t sent;
    do {
        sent = ::send(fd_, data, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        const int err = errno;
        Lose(err);
        return -1;
    }
    const Clock::time_point now = Clock::now();
    wireFreeAt_ = std::max(wireFreeAt_, now) + CharacterTime(config_) * sent;
    return static_cast<int>(sent);
}

bool TcpPort::OutputEmpty() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return true;
    int unsent = 0;
    if (::ioctl(fd_, SIOCOUTQNSD, &unsent) == 0 && unsent > 0) return false;
    return Clock::now() >= wireFreeAt_;
}

int TcpPort::BytesWaiting() {
    std::lock_guard lock(mutex_);
    Fill();
    return static_cast<int>(held_.size());
}

int TcpPort::Read(uint8_t* data, int max) {
    std::lock_guard lock(mutex_);
    Fill();
    if (held_.empty() && fd_ < 0) return -1;
    const int n = std::min(max, static_cast<int>(held_.size()));
    std::copy_n(held_.begin(), n, data);
    held_.erase(held_.begin(), held_.begin() + n);
    return n;
}

void TcpPort::PurgeInput() {
    std::lock_guard lock(mutex_);
    Fill();
    held_.clear();
}

// What the kernel or the gateway holds cannot be called back.
void TcpPort::PurgeOutput() {}

UartErrors TcpPort::TakeErrors() {
    std::lock_guard lock(mutex_);
    UartErrors errors;
    errors.other = cut_;
    cut_ = false;
    return errors;
}

void TcpPort::SetRTS(bool) {
    std::lock_guard lock(mutex_);
    lastError_ = EOPNOTSUPP;
}

void TcpPort::SetDTR(bool) {
    std::lock_guard lock(mutex_);
    lastError_ = EOPNOTSUPP;
}

void TcpPort::SetBreak(bool) {
    std::lock_guard lock(mutex_);
    lastError_ = EOPNOTSUPP;
}

ModemStatus TcpPort::GetModemStatus() {
    std::lock_guard lock(mutex_);
    lastError_ = EOPNOTSUPP;
    return {};
}

int TcpPort::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::unique_ptr<SerialPort> OpenTcpPort(const std::string& device, int* error) {
    int ignored = 0;
    int& err = error != nullptr ? *error : ignored;
    TcpEndpoint endpoint;
    const std::string problem = ParseTcpDevice(device, &endpoint);
    if (!problem.empty()) {
        err = EINVAL;
        RememberFailure(device, problem);
        return nullptr;
    }
    std::string reason;
    const int fd = ConnectTcp(endpoint, kTcpConnectTimeoutMs, &err, &reason);
    if (fd < 0) {
        RememberFailure(device, reason);
        return nullptr;
    }
    RememberFailure(device, {});
    err = 0;
    return std::make_unique<TcpPort>(fd, device, std::move(endpoint));
}

std::string ExplainTcpPort(const std::string& device) {
    {
        std::lock_guard lock(g_failuresMutex);
        const auto it = g_failures.find(device);
        if (it != g_failures.end()) return device + ": " + it->second;
    }
    TcpEndpoint endpoint;
    const std::string problem = ParseTcpDevice(device, &endpoint);
    if (!problem.empty()) return device + ": " + problem;
    int err = 0;
    std::string reason;
    const int fd = ConnectTcp(endpoint, kTcpConnectTimeoutMs, &err, &reason);
    if (fd < 0) return device + ": " + reason;
    ::close(fd);
    return device;
}

}  // namespace mbus::serial
