// A TCP server on 127.0.0.1 for the tests of the TCP port: a listening
// socket on a free port, one accepted connection at a time, and the ways a
// gateway can end a connection (close, reset).

#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mbus::serial::testing {

class LoopbackServer {
public:
    LoopbackServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackServer() {
        Drop();
        StopListening();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Ok() const { return listener_ >= 0; }
    int Port() const { return port_; }
    std::string Device() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

    // Waits for the next client; false when none came within `limit`.
    bool Accept(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return false;
        Drop();
        client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    int Client() const { return client_; }

    bool Send(const std::vector<uint8_t>& bytes) {
        return client_ >= 0 && ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                   static_cast<ssize_t>(bytes.size());
    }
    // Reads until `n` bytes came, the client left, or `limit` passed.
    std::vector<uint8_t> Receive(std::size_t n, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (client_ >= 0 && got.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{client_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
            uint8_t buffer[256];
            const ssize_t r = ::recv(client_, buffer, sizeof buffer, 0);
            if (r <= 0) break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
    // Ends the connection in order (FIN).
    void Close() { Drop(); }
    // Ends the connection with a reset (RST), as a gateway that crashes.
    void Reset() {
        if (client_ < 0) return;
        const linger hard{1, 0};
        ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Drop();
    }
    // Closes the listening socket: later connections are refused.
    void StopListening() {
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }

private:
    void Drop() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
    }

    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
};

}  // namespace mbus::serial::testing
