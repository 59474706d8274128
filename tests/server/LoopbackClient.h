// A minimal blocking TCP client for the loopback tests of the server.
#pragma once

#include "support/TestWait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace zephyrine::server::testing {

class TLoopbackClient {
  public:
    explicit TLoopbackClient(std::uint16_t port, const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &to.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    TLoopbackClient(const TLoopbackClient&) = delete;
    TLoopbackClient& operator=(const TLoopbackClient&) = delete;
    ~TLoopbackClient() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Connected() const { return connected_; }
    int Handle() const { return fd_; }
    void Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // Everything until the server closes; closed is false when the wait ran out first or the
    // connection was reset.
    std::string ReadAll(bool* closed = nullptr, int waitMs = 5000) {
        std::string out;
        char buffer[65536];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                if (closed) *closed = false;
                return out;
            }
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (closed) *closed = n == 0;  // a reset is not a clean close
                return out;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::string Request(const std::string& raw) {
        Send(raw);
        return ReadAll();
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

using test::Eventually;

}  // namespace zephyrine::server::testing
