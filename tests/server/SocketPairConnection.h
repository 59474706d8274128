// A connection over a real connected pair of local stream sockets: the request writes to and
// reads from one end, the test plays the peer on the other.
#pragma once

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "server/ServerConnection.h"

namespace zephyrine::server::testing {

class TSocketPairConnection final : public IServerConnection {
  public:
    TSocketPairConnection() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
            throw ESocketError(std::string("socketpair: ") + std::strerror(errno));
        }
        timeval wait{2, 0};  // a peer that sends nothing ends the data
        ::setsockopt(fds_[0], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(fds_[1], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~TSocketPairConnection() override {
        CloseOwnEnd();
        ClosePeer();
    }

    std::size_t SendBuf(const void* buffer, std::size_t count) override {
        const ssize_t n = ::send(fds_[0], buffer, count, MSG_NOSIGNAL);
        if (n < 0) {
            const int error = errno;
            CloseOwnEnd();
            throw ESocketError("send failed: " + std::string(std::strerror(error)));
        }
        return static_cast<std::size_t>(n);
    }
    std::size_t ReceiveBuf(void* buffer, std::size_t count) override {
        const ssize_t n = ::recv(fds_[0], buffer, count, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        if (n < 0) throw ESocketError("recv failed: " + std::string(std::strerror(errno)));
        return static_cast<std::size_t>(n);
    }
    bool Connected() const override { return fds_[0] >= 0; }

    // The peer's side.
    void PeerSend(const std::string& bytes) {
        ::send(fds_[1], bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    std::string PeerReceiveAll() {
        ::shutdown(fds_[0], SHUT_WR);
        std::string all;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(fds_[1], chunk, sizeof chunk, 0);
            if (n <= 0) break;
            all.append(chunk, static_cast<std::size_t>(n));
        }
        return all;
    }
    void ClosePeer() {
        if (fds_[1] >= 0) ::close(fds_[1]);
        fds_[1] = -1;
    }
    void CloseOwnEnd() {
        if (fds_[0] >= 0) ::close(fds_[0]);
        fds_[0] = -1;
    }

  private:
    int fds_[2] = {-1, -1};
};

}  // namespace zephyrine::server::testing
