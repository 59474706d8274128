// For the client tests: a loopback TCP server whose connections each play the next script (the
// last one again once they are used up) and record every byte they receive.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zephyrine::httpclient::test {

constexpr int kUntilPollMs = 5;  // how often an Until step asks its condition

struct TStep {
    enum TKind { ReadRequest, Send, Pause, Until, Silent, CloseUnread, Reset } kind;
    std::string bytes;
    int ms = 0;
    std::function<bool()> condition = {};
};
using TScript = std::vector<TStep>;

inline TStep ReadRequest() {
    return {TStep::ReadRequest, {}, 0};
}
inline TStep Send(std::string bytes) {
    return {TStep::Send, std::move(bytes), 0};
}
inline TStep Pause(int ms) {
    return {TStep::Pause, {}, ms};
}
// Waits until condition() holds (asked on the server's thread) or the server stops.
inline TStep Until(std::function<bool()> condition) {
    return {TStep::Until, {}, 0, std::move(condition)};
}
// Reads and waits until the client closes or the server stops.
inline TStep Silent() {
    return {TStep::Silent, {}, 0};
}
// Waits for the request and closes without reading it: the connection is reset.
inline TStep CloseUnread() {
    return {TStep::CloseUnread, {}, 0};
}
// Closes with SO_LINGER 0: the connection is reset.
inline TStep Reset() {
    return {TStep::Reset, {}, 0};
}
// Reads the request, answers with reply and closes.
inline TScript Reply(std::string reply) {
    return {ReadRequest(), Send(std::move(reply))};
}

// The message of the E that f raises; empty when it returns.
template <typename E, typename F>
std::string Raised(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return {};
}

class TScriptedServer {
  public:
    explicit TScriptedServer(std::vector<TScript> scripts = {}) : scripts_(std::move(scripts)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
            ::listen(listen_, 16) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&at), &size) != 0 ||
            ::pipe2(stop_, O_CLOEXEC) != 0) {
            throw std::runtime_error("scripted server: no listening socket");
        }
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~TScriptedServer() {
        [[maybe_unused]] const auto n = ::write(stop_[1], "x", 1);
        thread_.join();
        ::close(listen_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // For servers that name each other: scripts given once both ports are known.
    void SetScripts(std::vector<TScript> scripts) {
        std::lock_guard guard(lock_);
        scripts_ = std::move(scripts);
    }
    // The bytes each connection received, in the order of the connections.
    std::vector<std::string> Received() const {
        std::lock_guard guard(lock_);
        return received_;
    }

  private:
    // Waits for fd to become readable; false when the server stops first or ms run out.
    bool WaitReadable(int fd, int ms) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        return ::poll(fds, 2, ms) > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
    // Reads what arrives into the record; false once the peer closed or the server stops.
    bool ReadSome(int fd, std::size_t index, int ms) {
        if (!WaitReadable(fd, ms)) return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        std::lock_guard guard(lock_);
        received_[index].append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    void Run() {
        for (std::size_t index = 0;; ++index) {
            if (!WaitReadable(listen_, -1)) return;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            TScript script;
            {
                std::lock_guard guard(lock_);
                received_.emplace_back();
                if (!scripts_.empty()) script = scripts_[std::min(index, scripts_.size() - 1)];
            }
            Play(fd, index, script);
        }
    }
    void Play(int fd, std::size_t index, const TScript& script) {
        const auto requestEnded = [&] {
            std::lock_guard guard(lock_);
            return received_[index].find("\r\n\r\n") != std::string::npos;
        };
        for (const TStep& step : script) {
            switch (step.kind) {
                case TStep::ReadRequest:
                    while (!requestEnded() && ReadSome(fd, index, -1)) {
                    }
                    break;
                case TStep::Send:
                    for (std::size_t sent = 0; sent < step.bytes.size();) {
                        const ssize_t n = ::send(fd, step.bytes.data() + sent,
                                                 step.bytes.size() - sent, MSG_NOSIGNAL);
                        if (n <= 0) break;
                        sent += static_cast<std::size_t>(n);
                    }
                    break;
                case TStep::Pause:
                    WaitReadable(stop_[0], step.ms);
                    break;
                case TStep::Until: {
                    pollfd stop{stop_[0], POLLIN, 0};
                    while (!step.condition() && ::poll(&stop, 1, kUntilPollMs) == 0) {
                    }
                    break;
                }
                case TStep::Silent:
                    while (ReadSome(fd, index, -1)) {
                    }
                    break;
                case TStep::CloseUnread:
                    WaitReadable(fd, -1);
                    [[fallthrough]];
                case TStep::Reset: {
                    const linger reset{1, 0};
                    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                    ::close(fd);
                    return;
                }
            }
        }
        while (ReadSome(fd, index, 0)) {  // what arrived after the script
        }
        ::close(fd);
    }

    std::vector<TScript> scripts_;
    int listen_ = -1;
    int stop_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A loopback port on which nothing listens (one a scripted server had, now closed).
inline int ClosedPort() {
    TScriptedServer gone;
    return gone.Port();
}

}  // namespace zephyrine::httpclient::test
