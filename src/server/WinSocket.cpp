#include "server/WinSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "server/PeerNames.h"
#include "server/ServerWinSocket.h"

namespace zephyrine::server {

namespace {

bool WouldBlock(int code) {
    return code == EAGAIN || code == EWOULDBLOCK;
}

// The connection layer's two I/O loops; every send and receive on a connection goes through one
// of them. Each retries a call that a signal interrupted and reports a count and an error number,
// where EAGAIN means that the socket's wait ran out, which is no failure: fewer bytes, or none.
// Their callers differ only in how a failure is reported, as the program's behaviour needs:
// - SendBuf and ReceiveBuf (the request object's writes and reads) hand it to the error hook,
//   close the connection and throw ESocketError "Windows socket error: ...";
// - SendWholeStream (a file answer) hands it to the error hook and closes, without throwing: the
//   answer has been handed over by then;
// - TWinSocketStream (the tokenizer's source) throws ESocketError "Read error N, text" or
//   "Write error N, text" and leaves the connection to its owner.
struct TTransfer {
    std::size_t count = 0;
    int error = 0;
};

// Sends the whole range, unless the wait runs out or the send fails first.
TTransfer SendAll(int handle, const void* data, std::size_t count) {
    const char* p = static_cast<const char*>(data);
    TTransfer t;
    while (t.count < count) {
        const ssize_t n = ::send(handle, p + t.count, count - t.count, MSG_NOSIGNAL);
        if (n > 0) {
            t.count += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            t.error = n == 0 ? EPIPE : WouldBlock(errno) ? EAGAIN : errno;
            break;
        }
    }
    return t;
}

// A thread that has SIGPIPE blocked for good (a connection thread) needs no guard per send.
thread_local bool brokenPipeBlocked = false;

sigset_t BrokenPipeSignal() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    return pipe;
}

// SIGPIPE held back for the scope of a sendfile, which has no MSG_NOSIGNAL: a peer that leaves
// mid-body gives EPIPE, not the end of the process. The signal it raised is taken before the
// thread's own mask comes back.
class TBrokenPipeGuard {
  public:
    TBrokenPipeGuard() {
        if (brokenPipeBlocked) return;
        const sigset_t pipe = BrokenPipeSignal();
        active_ = ::pthread_sigmask(SIG_BLOCK, &pipe, &saved_) == 0;
        if (active_) {
            sigset_t pending;
            sigpending(&pending);
            pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        }
    }
    ~TBrokenPipeGuard() {
        if (!active_) return;
        if (raised_ && !pendingBefore_) {
            const sigset_t pipe = BrokenPipeSignal();
            const timespec none{};
            while (::sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    TBrokenPipeGuard(const TBrokenPipeGuard&) = delete;
    TBrokenPipeGuard& operator=(const TBrokenPipeGuard&) = delete;
    void Raised() { raised_ = true; }

  private:
    sigset_t saved_{};
    bool active_ = false;
    bool pendingBefore_ = false;
    bool raised_ = false;
};

// Sends a file from offset to its end by sendfile, moving offset past what went out; the
// result's error as SendAll's.
TTransfer SendFileToEnd(int handle, int file, std::int64_t& offset) {
    TBrokenPipeGuard guard;
    TTransfer t;
    for (;;) {
        off_t at = offset;
        const ssize_t n = ::sendfile(handle, file, &at, kSendFileStep);
        if (n > 0) {
            t.count += static_cast<std::size_t>(n);
            offset = at;
        } else if (n == 0) {
            return t;  // the end of the file
        } else if (errno != EINTR) {
            t.error = WouldBlock(errno) ? EAGAIN : errno;
            if (t.error == EPIPE) guard.Raised();
            return t;
        }
    }
}

// One receive: the bytes that have arrived (0 at the end of data), or the error.
TTransfer ReceiveSome(int handle, void* buffer, std::size_t count, int flags = 0) {
    for (;;) {
        const ssize_t n = ::recv(handle, buffer, count, flags);
        if (n >= 0) return {static_cast<std::size_t>(n), 0};
        if (errno != EINTR) return {0, WouldBlock(errno) ? EAGAIN : errno};
    }
}

bool Failed(const TTransfer& t) {
    return t.error != 0 && t.error != EAGAIN;
}

// "Read error N, text" or "Write error N, text".
[[noreturn]] void ThrowStreamError(const char* what, int code) {
    throw ESocketError(std::string(what) + " error " + std::to_string(code) + ", " +
                       SystemErrorMessage(code));
}

}  // namespace

std::string SystemErrorMessage(int code) {
    char buffer[256];
    // The GNU strerror_r returns the message, which may or may not be the buffer.
    return strerror_r(code, buffer, sizeof buffer);
}

std::string SocketErrorText(int code, const char* api) {
    return "Windows socket error: " + SystemErrorMessage(code) + " (" + std::to_string(code) +
           "), on API '" + api + "'";
}

void SetSocketWait(int handle, int waitMs) {
    timeval tv{};
    tv.tv_sec = waitMs / 1000;
    tv.tv_usec = (waitMs % 1000) * 1000;
    ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// --- TCustomWinSocket ---

TCustomWinSocket::TCustomWinSocket(int handle) : handle_(handle), connected_(handle >= 0) {}

TCustomWinSocket::~TCustomWinSocket() {
    const int handle = handle_.exchange(-1);
    if (handle >= 0) ::close(handle);
}

void TCustomWinSocket::Attach(int handle) {
    handle_ = handle;
    connected_ = false;
}

void TCustomWinSocket::Close() {
    std::lock_guard guard(lock_);
    CloseLocked();
}

void TCustomWinSocket::CloseLocked() {
    int handle;
    {
        std::lock_guard h(handleLock_);
        handle = handle_.exchange(-1);
    }
    if (handle < 0) return;
    OnDisconnect();
    connected_ = false;
    ::close(handle);
    pendingStream_.reset();
}

void TCustomWinSocket::ShutdownIO() {
    std::lock_guard h(handleLock_);
    const int handle = handle_.load();
    if (handle >= 0) ::shutdown(handle, SHUT_RDWR);
}

// --- TServerClientWinSocket ---

TServerClientWinSocket::TServerClientWinSocket(int handle, TServerWinSocket* server,
                                               const sockaddr_in* peer)
    : TCustomWinSocket(handle), server_(server), hasPeer_(peer != nullptr) {
    if (peer) peer_ = *peer;
    if (server_) {
        std::lock_guard guard(server_->listLock_);
        server_->connections_.push_back(this);
    }
}

TServerClientWinSocket::~TServerClientWinSocket() {
    if (server_) {
        std::lock_guard guard(server_->listLock_);
        std::erase(server_->connections_, this);
    }
    Close();
}

void TServerClientWinSocket::Error(TErrorEvent kind, int code, const char* api) {
    if (OnErrorEvent) OnErrorEvent(kind, code);
    CloseLocked();
    if (code != 0) throw ESocketError(SocketErrorText(code, api));
}

std::size_t TServerClientWinSocket::SendBuf(const void* buffer, std::size_t count) {
    std::lock_guard guard(lock_);
    if (!IsConnected()) return 0;
    const TTransfer sent = SendAll(Handle(), buffer, count);
    if (Failed(sent)) Error(eeSend, sent.error, "send");
    return sent.count;
}

std::size_t TServerClientWinSocket::ReceiveBuf(void* buffer, std::size_t count) {
    std::lock_guard guard(lock_);
    if (!IsConnected()) return 0;
    const TTransfer got = ReceiveSome(Handle(), buffer, count);
    if (Failed(got)) Error(eeReceive, got.error, "recv");
    return got.count;
}

bool TServerClientWinSocket::SendWholeStream(std::unique_ptr<base::TStream>& stream) {
    std::lock_guard guard(lock_);
    if (pendingStream_) return false;
    pendingStream_ = std::move(stream);
    if (!IsConnected()) return false;
    std::int64_t position = pendingStream_->Position();
    TTransfer sent;
    auto* file = dynamic_cast<base::TFileStream*>(pendingStream_.get());
    if (file) {
        // The file's pages go to the socket without a copy through this process.
        sent = SendFileToEnd(Handle(), file->Handle(), position);
        // A file system that cannot give its pages that way is read in pieces.
        if (sent.error == EINVAL || sent.error == ENOSYS) file = nullptr;
    }
    if (!file) {
        pendingStream_->SetPosition(position);
        sent = {};
        char piece[kSendPieceSize];
        for (;;) {
            const std::size_t got = pendingStream_->Read(piece, sizeof piece);
            if (got == 0) break;
            const TTransfer part = SendAll(Handle(), piece, got);
            position += static_cast<std::int64_t>(part.count);
            if (part.error != 0) {
                sent.error = part.error;
                break;
            }
        }
    }
    if (sent.error == 0) {
        pendingStream_.reset();
    } else if (sent.error == EAGAIN) {
        // The wait ran out: the rest stays with the connection until it is closed.
        pendingStream_->SetPosition(position);
    } else {
        int code = sent.error;
        if (OnErrorEvent) OnErrorEvent(eeSend, code);
        CloseLocked();
        pendingStream_.reset();
    }
    return true;
}

void BlockBrokenPipeForThisThread() {
    const sigset_t pipe = BrokenPipeSignal();
    brokenPipeBlocked = ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
}

void TServerClientWinSocket::HoldPartialSegments() {
    const int on = 1;
    ::setsockopt(Handle(), IPPROTO_TCP, TCP_CORK, &on, sizeof on);  // no effect on non-TCP sockets
}

void TServerClientWinSocket::DrainUnreadInput(int waitMs, std::size_t limit) {
    std::lock_guard guard(lock_);
    int pending = 0;
    if (!IsConnected() || ::ioctl(Handle(), FIONREAD, &pending) != 0 || pending <= 0) return;
    ::shutdown(Handle(), SHUT_WR);
    SetSocketWait(Handle(), waitMs);
    knownWaitMs_ = waitMs;
    char scratch[kSendPieceSize];
    for (std::size_t total = 0; total < limit;) {
        const TTransfer got = ReceiveSome(Handle(), scratch, sizeof scratch);
        if (got.count == 0) break;
        total += got.count;
    }
}

void TServerClientWinSocket::PeerName(std::string& address, std::string& host) {
    sockaddr_in peer{};
    {
        std::lock_guard guard(lock_);
        socklen_t length = sizeof peer;
        if (hasPeer_ && IsConnected()) {
            peer = peer_;
        } else if (::getpeername(Handle(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
            throw ESocketError(SocketErrorText(errno, "getpeername"));
        }
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    address = text;
    host = PeerHostName(peer);
}

// --- TWinSocketStream ---

TWinSocketStream::TWinSocketStream(TServerClientWinSocket& connection, int waitMs)
    : connection_(connection), waitMs_(waitMs) {
    const int handle = connection_.Handle();
    if (handle >= 0) {
        if (!connection_.knownBlocking_) {
            const int flags = ::fcntl(handle, F_GETFL);
            if (flags >= 0 && (flags & O_NONBLOCK)) throw ESocketError(kNotBlockingText);
        }
        if (connection_.knownWaitMs_ != waitMs_ || waitMs_ < 0) {
            SetSocketWait(handle, waitMs_);
            connection_.knownWaitMs_ = waitMs_;
        }
    }
}

std::size_t TWinSocketStream::Read(void* buffer, std::size_t count) {
    using TClock = TServerClientWinSocket::TClock;
    std::lock_guard guard(connection_.lock_);
    if (!connection_.IsConnected()) return 0;
    const TClock::time_point deadline = connection_.HeaderDeadline();
    while (deadline != TClock::time_point::max()) {
        // The header's deadline: what has arrived is taken at once; the wait for more ends at
        // the deadline, or with the stream's own wait when that is shorter; past the deadline
        // nothing more is read.
        const auto now = TClock::now();
        if (now >= deadline) {
            // Nothing of the request is answered, and the connection goes at once.
            connection_.CloseLocked();
            throw ESocketError(SocketErrorText(ETIMEDOUT, "recv"));
        }
        const TTransfer got = ReceiveSome(connection_.Handle(), buffer, count, MSG_DONTWAIT);
        if (got.error != EAGAIN) {
            if (Failed(got)) ThrowStreamError("Read", got.error);
            return got.count;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const bool deadlineFirst = left <= waitMs_;
        pollfd ready{connection_.Handle(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, deadlineFirst ? static_cast<int>(left) : waitMs_);
        if (polled == 0 && !deadlineFirst) return 0;  // the stream's wait ran out
        if (polled < 0 && errno != EINTR) break;      // recv tells what failed
    }
    const TTransfer got = ReceiveSome(connection_.Handle(), buffer, count);
    if (Failed(got)) ThrowStreamError("Read", got.error);
    return got.count;
}

std::size_t TWinSocketStream::Write(const void* buffer, std::size_t count) {
    std::lock_guard guard(connection_.lock_);
    if (!connection_.IsConnected()) return 0;
    const TTransfer sent = SendAll(connection_.Handle(), buffer, count);
    if (Failed(sent)) ThrowStreamError("Write", sent.error);
    return sent.count;
}


}  // namespace zephyrine::server
