#include "httpclient/Powersock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/ScopeExit.h"
#include "base/Stream.h"

namespace zephyrine::httpclient {

TPowersock::TPowersock() {
    ReportStatus(kLevelDetail, "Create");
    timer_.SetEnabled(false);
    timer_.SetOnTimer([this] { TimerTriggered(); });
    ReportStatus(kLevelDetail, "Initializing Winsock");
    MakeSocket(true);
}

TPowersock::~TPowersock() {
    ReportStatus(kLevelDetail, "Destroy");
    TPowersock::Abort();
    Cancel();
    destroying_ = true;
    lookup_.Abandon();
    try {
        CloseSocket();
    } catch (const ESockError&) {  // the handle is gone either way
    }
}

void TPowersock::MakeSocket(bool first) {
    // The first socket resets its connection on close; the ones made after a close do not.
    socket_ =
        ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, first ? IPPROTO_TCP : 0);
    if (socket_ >= 0 && first) {
        const linger off{1, 0};
        if (::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &off, sizeof off) != 0) {
            ::close(socket_);
            socket_ = -1;
        }
    }
    if (socket_ < 0) {
        if (first) throw ESockError("Initializaton of windows sockets failed");
        CheckSocketError(kErrWouldBlock);
    }
}

void TPowersock::ReportStatus(int level, std::string_view text) {
    if (ReportLevel < level) return;
    lastStatus_ = text;
    if (destroying_ || !OnStatus) return;
    try {
        OnStatus(lastStatus_);
    } catch (...) {  // a report never ends an operation
    }
}

void TPowersock::CheckSocketError(int ignore) {
    lastErrorCode_ = SockErrorFromErrno(errno);
    if (lastErrorCode_ != ignore && lastErrorCode_ > 10000) {
        ReportStatus(kLevelDetail, "Looking Up Error Message");
        throw ESockError(LookupErrorMessage(lastErrorCode_));
    }
}

TPowersock::TWaitEnd TPowersock::Wait(short events, const bool* flag) {
    for (;;) {
        if (flag != nullptr && *flag) return TWaitEnd::Flag;
        if (canceled_) return TWaitEnd::Canceled;
        pollfd fds[3];
        nfds_t count = 0;
        const auto add = [&](int fd, short what) {
            if (fd < 0) return -1;
            fds[count] = {fd, what, 0};
            return static_cast<int>(count++);
        };
        const int socketAt = events != 0 ? add(socket_, events) : -1;
        const int timerAt = timer_.Enabled() ? add(timer_.Handle(), POLLIN) : -1;
        const int lookupAt = add(lookup_.Handle(), POLLIN);
        if (::poll(fds, count, kWaitSliceMs) < 0 && errno != EINTR) CheckSocketError(0);
        const bool ready = socketAt >= 0 && fds[socketAt].revents != 0;
        if (timerAt >= 0 && fds[timerAt].revents != 0) timer_.Service();
        if (lookupAt >= 0 && fds[lookupAt].revents != 0) LookupFinished();
        if (Pump) Pump();
        if (ready) return TWaitEnd::Ready;
    }
}

void TPowersock::TimerOn() {
    ReportStatus(kLevelDetail, "Timer On");
    timedOut_ = false;
    // Enabling restarts the timer, so an unchanged interval is not assigned again: TimerOn runs
    // once per block received.
    const unsigned interval = TimeOut > 0 ? static_cast<unsigned>(TimeOut) : IdleLimit;
    if (timer_.Interval() != interval) timer_.SetInterval(interval);
    timer_.SetEnabled(true);
}

void TPowersock::TimerOff() {
    ReportStatus(kLevelDetail, "Timer Off");
    timer_.SetEnabled(false);
}

void TPowersock::TimerTriggered() {
    ReportStatus(kLevelDetail, "Timer Triggered");
    TimerOff();
    timedOut_ = true;
    lookupDone_ = true;
    Abort();
}

void TPowersock::Cancel() {
    ReportStatus(kLevelDetail, "Canceling");
    canceled_ = true;
}

void TPowersock::Abort() {
    ReportStatus(kLevelDetail, "Abort");
    Cancel();
}

void TPowersock::LookupFinished() {
    lookupDone_ = true;
    lastErrorCode_ = lookup_.ErrorCode();
    lastEventOk_ = lastErrorCode_ == 0;
}

void TPowersock::ResolveHost() {
    ReportStatus(kLevelDetail, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    in_addr dotted{};
    if (::inet_pton(AF_INET, name.c_str(), &dotted) == 1) {
        remoteAddress_ = dotted.s_addr;
        return;
    }
    remoteAddress_ = 0;
    {
        TimerOn();
        const base::ScopeExit off([this] { TimerOff(); });  // on every way out
        lookupDone_ = false;
        try {
            lookup_.Start(name);
        } catch (const std::system_error& e) {
            errno = e.code().value();
            CheckSocketError(0);
        }
        Wait(0, &lookupDone_);
    }
    const bool found = lookup_.Done() && lookup_.ErrorCode() == 0;
    const std::uint32_t address = lookup_.Address();
    lookup_.Abandon();
    if (timedOut_) throw ESockError(kLookupTimedOutText);
    if (canceled_) throw ESockError(kLookupCanceledText);
    if (!found) throw ESockError("Host Lookup Failed");
    remoteAddress_ = address;
    if (OnHostResolved) OnHostResolved();
}

void TPowersock::Connect() {
    ReportStatus(kLevelDetail, "Connecting");
    canceled_ = false;
    if (connected_) throw ESockError("Already connected");
    for (bool retried = false;; retried = true) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            const std::string_view what = e.what();
            if (what == kLookupTimedOutText || what == kLookupCanceledText) throw;
        }
        if (remoteAddress_ != 0) break;
        bool handled = false;
        if (!retried && OnInvalidHost) OnInvalidHost(handled);
        if (!handled) throw ESockError("Null Remote Address");
    }

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort));
    to.sin_addr.s_addr = remoteAddress_;
    lookupDone_ = false;
    lastEventOk_ = true;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        connected_ = true;
        if (OnConnect) OnConnect();
    } else {
        // A connect under way is the "would block" of a non-blocking socket.
        if (errno == EINPROGRESS || errno == EINTR) errno = EWOULDBLOCK;
        CheckSocketError(kErrWouldBlock);
    }
    {
        TimerOn();
        const base::ScopeExit off([this] { TimerOff(); });  // on every way out
        while (!connected_ && !timedOut_ && !canceled_ && lastEventOk_) {
            if (Wait(POLLOUT, &connected_) == TWaitEnd::Ready) ConnectFinished();
        }
    }
    if (connected_ && !timedOut_ && !canceled_ && lastEventOk_) return;
    if (OnConnectionFailed) OnConnectionFailed();
    if (timedOut_) throw ESockError("Connection Timed out");
    if (canceled_) throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::ConnectFinished() {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    // A socket that was closed and made anew inside the pump is writable but not connected.
    if (error == 0 && ::getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) {
        error = ENOTCONN;
    }
    if (error != 0) {
        lastEventOk_ = false;
        lastErrorCode_ = SockErrorFromErrno(error);
        return;
    }
    connected_ = true;
    if (OnConnect) OnConnect();
}

void TPowersock::SendBuffer(const char* data, std::size_t length) {
    ReportStatus(kLevelTransfer, "Sending Buffer");
    {
        TimerOn();
        const base::ScopeExit off([this] { TimerOff(); });  // on every way out
        std::size_t sent = 0;
        while (sent < length && !canceled_) {
            const ssize_t n = ::send(socket_, data + sent, length - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                CheckSocketError(kErrWouldBlock);
                Wait(POLLOUT, nullptr);
            }
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::Write(std::string_view text) {
    ReportStatus(kLevelDetail, "Write");
    text = text.substr(0, text.find('\0'));
    do {
        const std::size_t piece = std::min(text.size(), kMaxSendPiece);
        SendBuffer(text.data(), piece);
        text.remove_prefix(piece);
    } while (!text.empty());
}

void TPowersock::Writeln(std::string_view text) {
    ReportStatus(kLevelDetail, "Writeln");
    std::string line(text.substr(0, text.find('\0')));
    line += "\r\n";
    Write(line);
}

std::string TPowersock::ReadLn() {
    ReportStatus(kLevelDetail, "ReadLn");
    char* const buffer = ioBuffer_.data();
    std::size_t used = 0;
    {
        TimerOn();
        const base::ScopeExit off([this] { TimerOff(); });  // on every way out
        for (;;) {
            if (used == kIoBufferSize) throw ESockError(kLineTooLongText);
            const std::size_t room = std::min(kIoBufferSize - used, kLinePeekSize);
            const ssize_t n = ::recv(socket_, buffer + used, room, MSG_PEEK);
            if (n == 0) return std::string(buffer, used);  // closed
            if (n > 0) {
                const void* end = std::memchr(buffer + used, '\n', static_cast<std::size_t>(n));
                const std::size_t take =
                    end ? static_cast<const char*>(end) - (buffer + used) + 1 : n;
                for (std::size_t got = 0; got < take;) {  // the peeked bytes are there to take
                    const ssize_t r = ::recv(socket_, buffer + used + got, take - got, 0);
                    if (r <= 0) {
                        if (r < 0 && errno == EINTR) continue;
                        CheckSocketError(kErrWouldBlock);
                        break;
                    }
                    got += static_cast<std::size_t>(r);
                }
                used += take;
                if (end) return std::string(buffer, used);
                continue;
            }
            if (errno == EINTR) continue;
            lastErrorCode_ = SockErrorFromErrno(errno);
            // A socket that is no longer connected has no more data, as for the captures.
            if (lastErrorCode_ == kErrNotConnected) return std::string(buffer, used);
            CheckSocketError(kErrWouldBlock);
            Wait(POLLIN, nullptr);
            if (canceled_) break;
        }
    }
    canceled_ = false;
    throw EAbortError("Socket readln aborted");
}

int TPowersock::Transaction(std::string_view command) {
    ReportStatus(kLevelDetail, "Transaction");
    Writeln(command);
    const std::string reply = ReadLn();
    int number = 0;
    for (char c : reply) {
        if (c < '0' || c > '9' || number > 99999) break;
        number = number * 10 + (c - '0');
    }
    return number;
}

void TPowersock::Capture(long long limit,
                         const std::function<void(const char*, std::size_t)>& store) {
    bytesReceived_ = 0;
    TimerOn();
    const base::ScopeExit off([this] { TimerOff(); });  // on every way out
    auto lastPump = std::chrono::steady_clock::now();
    while (!canceled_) {
        std::size_t want = kIoBufferSize;
        if (limit >= 0) {
            if (bytesReceived_ >= limit) break;
            want = static_cast<std::size_t>(std::min<long long>(limit - bytesReceived_, want));
        }
        const ssize_t n = ::recv(socket_, ioBuffer_.data(), want, 0);
        if (n > 0) {
            store(ioBuffer_.data(), static_cast<std::size_t>(n));
            bytesReceived_ += n;
            if (OnPacketRecvd) OnPacketRecvd();
            TimerOn();  // the time-out counts from the last data
            const auto now = std::chrono::steady_clock::now();
            if (Pump && now - lastPump >= std::chrono::milliseconds(kPumpWhileReceivingMs)) {
                lastPump = now;
                Pump();
            }
        } else if (n == 0) {
            break;  // the peer closed
        } else if (errno != EINTR) {
            lastErrorCode_ = SockErrorFromErrno(errno);
            if (lastErrorCode_ == kErrNotConnected) break;
            CheckSocketError(kErrWouldBlock);
            Wait(POLLIN, nullptr);
        }
    }
}

void TPowersock::CaptureFile(const std::string& fileName) {
    ReportStatus(kLevelDetail, "CaptureFile");
    {
        base::TFileStream file(fileName, base::TFileStream::TMode::Create);
        Capture(-1, [&](const char* data, std::size_t size) {
            while (size > 0) {
                const std::size_t n = file.Write(data, size);
                if (n == 0) {
                    throw std::runtime_error("Cannot write file \"" + fileName + "\". " +
                                             std::strerror(errno));
                }
                data += n;
                size -= n;
            }
        });
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::CaptureString(std::string& target, long long limit) {
    ReportStatus(kLevelDetail, "Capture String");
    target.clear();
    Capture(limit, [&](const char* data, std::size_t size) { target.append(data, size); });
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket capture aborted");
    }
}

bool TPowersock::DataAvailable() {
    ReportStatus(kLevelDetail, "Data Available");
    char byte;
    return ::recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
}

void TPowersock::Disconnect() {
    ReportStatus(kLevelDetail, "Disconnecting");
    CloseSocket();
}

void TPowersock::CloseSocket() {
    ReportStatus(kLevelTransfer, "Request Close Socket");
    connected_ = false;
    if (socket_ >= 0) {
        const int handle = socket_;
        socket_ = -1;
        // Linux releases the descriptor even when close reports an error.
        if (::close(handle) != 0 && errno != EINTR) {
            if (!destroying_) MakeSocket(false);
            CheckSocketError(kErrWouldBlock);
        }
    }
    if (destroying_) return;
    if (OnDisconnect) OnDisconnect();
    MakeSocket(false);
}

}  // namespace zephyrine::httpclient
