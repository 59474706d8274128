#include "server/WinSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace zephyrine::server {

namespace {

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(10);
constexpr int kReapIntervalMs = 250;
constexpr auto kTrimInterval = std::chrono::seconds(1);
constexpr auto kHostNameLifetime = std::chrono::seconds(10);
constexpr std::size_t kHostNameCacheSize = 1024;
constexpr int kUnknownPriority = INT_MIN;

// Reverse lookups of peer addresses, remembered for a short while: a client that connects once
// per request would otherwise cost a lookup each time. Lookups themselves run one at a time,
// since the C library's host-name services are not race-free as ThreadSanitizer sees them; a
// remembered name never waits for them.
std::string ReverseLookup(const sockaddr_in& peer) {
    struct TEntry {
        std::string name;
        std::chrono::steady_clock::time_point until;
    };
    static std::mutex cacheLock;
    static std::mutex lookupLock;
    static std::unordered_map<std::uint32_t, TEntry> cache;
    const auto remembered = [&](std::string& name) {
        std::lock_guard guard(cacheLock);
        const auto it = cache.find(peer.sin_addr.s_addr);
        if (it == cache.end() || std::chrono::steady_clock::now() >= it->second.until) return false;
        name = it->second.name;
        return true;
    };
    std::string found;
    if (remembered(found)) return found;
    std::lock_guard lookup(lookupLock);
    if (remembered(found)) return found;  // looked up by another thread meanwhile
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name,
                      nullptr, 0, NI_NAMEREQD) == 0) {
        found = name;
    }
    std::lock_guard guard(cacheLock);
    if (cache.size() >= kHostNameCacheSize) cache.clear();
    cache[peer.sin_addr.s_addr] = {found, std::chrono::steady_clock::now() + kHostNameLifetime};
    return found;
}

void SetWait(int handle, int waitMs) {
    timeval tv{};
    tv.tv_sec = waitMs / 1000;
    tv.tv_usec = (waitMs % 1000) * 1000;
    ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

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

// One receive: the bytes that have arrived (0 at the end of data), or the error.
TTransfer ReceiveSome(int handle, void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::recv(handle, buffer, count, 0);
        if (n >= 0) return {static_cast<std::size_t>(n), 0};
        if (errno != EINTR) return {0, WouldBlock(errno) ? EAGAIN : errno};
    }
}

bool Failed(const TTransfer& t) {
    return t.error != 0 && t.error != EAGAIN;
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
    Close();
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
    if (pendingStream_) return false;
    pendingStream_ = std::move(stream);
    std::lock_guard guard(lock_);
    if (!IsConnected()) return false;
    char piece[kSendPieceSize];
    std::int64_t position = pendingStream_->Position();
    while (pendingStream_) {
        const std::size_t got = pendingStream_->Read(piece, sizeof piece);
        if (got == 0) {
            pendingStream_.reset();
            break;
        }
        const TTransfer sent = SendAll(Handle(), piece, got);
        if (sent.error == 0) {
            position += static_cast<std::int64_t>(got);
            continue;
        }
        if (sent.error == EAGAIN) {
            // The wait ran out: the rest stays with the connection until it is closed.
            pendingStream_->SetPosition(position + static_cast<std::int64_t>(sent.count));
            break;
        }
        int code = sent.error;
        if (OnErrorEvent) OnErrorEvent(eeSend, code);
        Close();
        pendingStream_.reset();
    }
    return true;
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
    SetWait(Handle(), waitMs);
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
    host = ReverseLookup(peer);
}

// --- TWinSocketStream ---

TWinSocketStream::TWinSocketStream(TServerClientWinSocket& connection, int waitMs)
    : connection_(connection), waitMs_(waitMs) {
    const int handle = connection_.Handle();
    if (handle >= 0) {
        const int flags = ::fcntl(handle, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK)) throw ESocketError(kNotBlockingText);
        SetWait(handle, waitMs_);
    }
}

std::size_t TWinSocketStream::Read(void* buffer, std::size_t count) {
    std::lock_guard guard(connection_.Lock());
    if (!connection_.IsConnected()) return 0;
    const TTransfer got = ReceiveSome(connection_.Handle(), buffer, count);
    if (Failed(got)) {
        throw ESocketError("Read error " + std::to_string(got.error) + ", " +
                           SystemErrorMessage(got.error));
    }
    return got.count;
}

std::size_t TWinSocketStream::Write(const void* buffer, std::size_t count) {
    std::lock_guard guard(connection_.Lock());
    if (!connection_.IsConnected()) return 0;
    const TTransfer sent = SendAll(connection_.Handle(), buffer, count);
    if (Failed(sent)) {
        throw ESocketError("Write error " + std::to_string(sent.error) + ", " +
                           SystemErrorMessage(sent.error));
    }
    return sent.count;
}

// --- TEvent ---

void TEvent::Set() {
    {
        std::lock_guard guard(lock_);
        set_ = true;
    }
    changed_.notify_one();
}

void TEvent::Reset() {
    std::lock_guard guard(lock_);
    set_ = false;
}

void TEvent::Wait() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return set_; });
}

// --- TServerClientThread ---

TServerClientThread::TServerClientThread(TServerWinSocket& listener) : listener_(listener) {}

TServerClientThread::~TServerClientThread() {
    Join();
}

void TServerClientThread::Start() {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kConnectionThreadStack);
    const int failed = pthread_create(
        &thread_, &attributes,
        [](void* self) -> void* {
            static_cast<TServerClientThread*>(self)->Execute();
            return nullptr;
        },
        this);
    pthread_attr_destroy(&attributes);
    if (failed) throw std::system_error(failed, std::generic_category(), "pthread_create");
    started_ = true;
}

void TServerClientThread::Join() {
    if (started_ && !pthread_equal(thread_, pthread_self())) {
        pthread_join(thread_, nullptr);
        started_ = false;
    }
}

void TServerClientThread::ReportSocketError(TErrorEvent, int&) {}

void TServerClientThread::Execute() {
    // One step above normal where the system allows it; otherwise the thread runs at normal.
    // Every connection thread starts at the accept thread's priority, so it is read only once.
    static const int normal = [] {
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, 0);
        return errno == 0 ? nice : kUnknownPriority;
    }();
    if (normal != kUnknownPriority) ::setpriority(PRIO_PROCESS, 0, normal - 1);

    bool leave = false;
    while (!leave) {
        std::unique_ptr<TServerClientWinSocket> done;
        try {
            wake_.Wait();
            wake_.Reset();
            if (!Terminated()) ServeConnection();
            std::lock_guard guard(listener_.listLock_);
            done = std::move(connection_);
            leave = Terminated() || !StayCached;
            if (leave) listener_.ThreadEnding(*this);
        } catch (...) {
            ReportException(std::current_exception());
            std::lock_guard guard(listener_.listLock_);
            StayCached = false;
            done = std::move(connection_);
            leave = true;
            listener_.ThreadEnding(*this);
        }
    }
    ThreadEnded();
}

// --- TServerWinSocket ---

TServerWinSocket::TServerWinSocket() = default;

TServerWinSocket::~TServerWinSocket() {
    Disconnect();
}

void TServerWinSocket::SetServerType(TServerType type) {
    if (type == serverType_) return;
    if (Handle() >= 0) throw ESocketError(kActiveSocketText);
    serverType_ = type;
}

int TServerWinSocket::CacheLimit() {
    std::lock_guard guard(listLock_);
    return cacheLimit_;
}

void TServerWinSocket::SetCacheLimit(int limit) {
    std::lock_guard guard(listLock_);
    cacheLimit_ = limit;
    if (limit == 0) {
        for (auto& thread : activeThreads_)
            thread->StayCached = false;
    }
}

std::size_t TServerWinSocket::ActiveThreadCount() {
    std::lock_guard guard(listLock_);
    return activeThreads_.size();
}

std::size_t TServerWinSocket::IdleThreadCount() {
    std::lock_guard guard(listLock_);
    return static_cast<std::size_t>(std::count_if(activeThreads_.begin(), activeThreads_.end(),
                                                  [](auto& t) { return !t->HasConnection(); }));
}

std::size_t TServerWinSocket::ConnectionCount() {
    std::lock_guard guard(listLock_);
    return connections_.size();
}

std::uint16_t TServerWinSocket::LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (Handle() < 0 ||
        ::getsockname(Handle(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

void TServerWinSocket::OnDisconnect() {
    if (OnListenChange) OnListenChange(false);
}

void TServerWinSocket::Listen(std::uint16_t port) {
    std::lock_guard guard(lock_);
    if (Handle() >= 0) throw ESocketError(kOpenSocketText);
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (handle < 0) throw ESocketError(kNoSocketText);
    Attach(handle);
    // Lets a restarted server bind while old connections linger in TIME_WAIT; on Linux it does
    // not let two listeners share a port.
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int code = errno;
        Close();
        throw ESocketError(SocketErrorText(code, "bind"));
    }
    if (OnListenChange) OnListenChange(true);
    if (::listen(handle, kListenBacklog) != 0) {
        const int code = errno;
        Close();
        throw ESocketError(SocketErrorText(code, "listen"));
    }
    SetWait(handle, kReapIntervalMs);
    connected_ = true;
    acceptStop_ = false;
    {
        std::lock_guard lists(listLock_);
        stopping_ = false;
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void TServerWinSocket::AcceptLoop() {
    while (!acceptStop_) {
        // Threads that ended are joined between connections, and after a quiet interval too, so
        // that the stacks of a burst of threads are given back when the burst is over.
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int handle =
            ::accept4(Handle(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (handle < 0 && WouldBlock(errno)) {  // the socket's wait ran out: a quiet interval
            ReapFinished();
            continue;
        }
        if (handle < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                std::this_thread::sleep_for(kAcceptRetryDelay);
            }
            continue;
        }
        try {
            // The peer's address comes with the connection; asking for it again would cost a
            // call per request.
            GetServerThread(std::make_unique<TServerClientWinSocket>(
                handle, this, length == sizeof peer ? &peer : nullptr));
        } catch (const std::exception&) {
            // Out of memory for one more connection: it is closed, the loop goes on.
        }
        ReapFinished();
    }
}

void TServerWinSocket::GetServerThread(std::unique_ptr<TServerClientWinSocket> connection) {
    // Creating a thread and waking one are the costly steps of a hand-off, and connection threads
    // that end take the list lock too; so the list lock covers only the choice of the thread.
    // Shutdown waits for a hand-off in progress, which keeps the chosen thread alive meanwhile.
    std::lock_guard handOff(handOffLock_);
    TServerClientThread* thread = nullptr;
    bool created = false;
    {
        std::lock_guard guard(listLock_);
        if (stopping_) return;
        for (auto& candidate : activeThreads_) {
            if (!candidate->HasConnection()) {
                thread = candidate.get();
                break;
            }
        }
        if (!thread) {
            activeThreads_.push_back(CreateServerThread());
            thread = activeThreads_.back().get();
            thread->StayCached = cacheLimit_ >= static_cast<int>(activeThreads_.size());
            created = true;
        }
        Reactivate(*thread, std::move(connection));
    }
    if (created) {
        try {
            thread->Start();
        } catch (const std::system_error&) {
            // No thread to be had (a system limit): the connection is closed unanswered.
            std::unique_ptr<TServerClientThread> unstarted;
            std::lock_guard guard(listLock_);
            const auto it = std::find_if(activeThreads_.begin(), activeThreads_.end(),
                                         [&](auto& t) { return t.get() == thread; });
            unstarted = std::move(*it);
            activeThreads_.erase(it);
            return;
        }
    }
    thread->wake_.Set();
}

void TServerWinSocket::Reactivate(TServerClientThread& thread,
                                  std::unique_ptr<TServerClientWinSocket> connection) {
    connection->OnErrorEvent = [&thread](TErrorEvent kind, int& code) {
        thread.ReportSocketError(kind, code);
    };
    thread.connection_ = std::move(connection);
}

void TServerWinSocket::ThreadEnding(TServerClientThread& thread) {
    const auto it = std::find_if(activeThreads_.begin(), activeThreads_.end(),
                                 [&](auto& t) { return t.get() == &thread; });
    if (it == activeThreads_.end()) return;  // shutdown holds it already
    finishedThreads_.push_back(std::move(*it));
    activeThreads_.erase(it);
}

void TServerWinSocket::ReapFinished() {
    std::vector<std::unique_ptr<TServerClientThread>> finished;
    {
        std::lock_guard guard(listLock_);
        finished.swap(finishedThreads_);
    }
    if (finished.empty()) return;
    // A finished thread may still be in its last steps (ThreadEnded is virtual): each is joined
    // while its object is whole, and only then destroyed.
    for (auto& thread : finished)
        thread->Join();
    finished.clear();
    // Give the memory of a burst back to the system once it has passed.
    const auto now = std::chrono::steady_clock::now();
    if (ActiveThreadCount() <= static_cast<std::size_t>(std::max(CacheLimit(), 0)) &&
        now - lastTrim_ >= kTrimInterval) {
        lastTrim_ = now;
        ::malloc_trim(0);
    }
}

void TServerWinSocket::Disconnect() {
    std::lock_guard guard(lock_);
    int savedLimit;
    {
        std::lock_guard lists(listLock_);
        savedLimit = cacheLimit_;
        SetCacheLimit(0);
        stopping_ = true;
    }
    { std::lock_guard handOff(handOffLock_); }  // a hand-off in progress has woken its thread
    for (;;) {
        std::unique_ptr<TServerClientThread> thread;
        {
            std::lock_guard lists(listLock_);
            if (activeThreads_.empty()) break;
            thread = std::move(activeThreads_.back());
            activeThreads_.pop_back();
            thread->Terminate();
            thread->wake_.Set();
            // A read in progress holds the connection's lock for its whole wait; shutting the
            // socket down first ends it at once.
            if (thread->connection_) thread->connection_->ShutdownIO();
        }
        thread->Join();
    }
    {
        std::lock_guard lists(listLock_);
        for (auto it = connections_.rbegin(); it != connections_.rend(); ++it)
            (*it)->ShutdownIO();
    }
    acceptStop_ = true;
    ShutdownIO();
    Close();
    if (acceptThread_.joinable()) acceptThread_.join();
    ReapFinished();
    {
        std::lock_guard lists(listLock_);
        cacheLimit_ = savedLimit;
        stopping_ = false;
    }
}

}  // namespace zephyrine::server
