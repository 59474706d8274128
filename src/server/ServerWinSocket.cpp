#include "server/ServerWinSocket.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <list>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace zephyrine::server {

namespace {

using TClock = std::chrono::steady_clock;

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(10);
// How soon a memory trim or a thread start that could not be done is tried again.
constexpr int kRetryMs = 250;
constexpr auto kTrimInterval = std::chrono::seconds(1);
constexpr int kUnknownPriority = INT_MIN;
constexpr int kDeferAcceptSeconds = 1;
constexpr int kMaxEvents = 64;

bool OutOfResources(int code) {
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

// Whether the bytes hold a whole request header: a request line without a version stands alone
// (the server answers it without a header block); any other ends with an empty line.
bool HeaderComplete(std::string_view bytes) {
    const auto lineEnd = bytes.find('\n');
    if (lineEnd == std::string_view::npos) return false;
    if (bytes.substr(0, lineEnd).find("HTTP/") == std::string_view::npos) return true;
    return bytes.find("\n\r\n", lineEnd) != std::string_view::npos ||
           bytes.find("\n\n", lineEnd) != std::string_view::npos;
}

enum class THeaderState { Partial, Ready, Gone };

// What has arrived on a connection, looked at without taking it from the socket, so that the
// thread that serves the connection reads it all.
THeaderState PeekHeader(int fd, std::vector<char>& scratch, bool hungUp) {
    ssize_t n;
    do {
        n = ::recv(fd, scratch.data(), scratch.size(), MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return THeaderState::Partial;
    if (n <= 0) return THeaderState::Gone;  // ended or failed without a byte
    const auto got = static_cast<std::size_t>(n);
    // A header longer than the look is the thread's to read (within the deadline), as is
    // what a peer sent before it stopped sending.
    if (hungUp || got == scratch.size() || HeaderComplete({scratch.data(), got})) {
        return THeaderState::Ready;
    }
    return THeaderState::Partial;
}

}  // namespace

// The accept thread's one wait: the listening socket, its wake-up, and every accepted
// connection whose request header has not arrived whole (oldest first, so the first one's
// header deadline is the next to pass). A connection leaves it for the ready queue once its
// header is there.
class TServerWinSocket::TWaiter {
  public:
    TWaiter(int listener, int wake, std::atomic<std::size_t>& count)
        : epoll_(::epoll_create1(EPOLL_CLOEXEC)), listener_(listener), count_(count) {
        if (!epoll_ || !Add(wake, EPOLLIN) || !Add(listener, EPOLLIN)) {
            throw ESocketError(SocketErrorText(errno, "epoll_ctl"));
        }
    }
    ~TWaiter() { count_ -= waiting_.size(); }
    TWaiter(const TWaiter&) = delete;
    TWaiter& operator=(const TWaiter&) = delete;

    int Handle() const { return epoll_.Get(); }

    // A connection just accepted: ready at once when its header came with it, else it waits
    // (the oldest waiting one goes when too many wait).
    void Accepted(std::unique_ptr<TServerClientWinSocket> connection) {
        const int fd = connection->Handle();
        switch (PeekHeader(fd, scratch_, false)) {
            case THeaderState::Ready:
                Ready.push_back(std::move(connection));
                return;
            case THeaderState::Gone:
                return;
            case THeaderState::Partial:
                break;
        }
        if (waiting_.size() >= kMaxWaitingConnections) DropOldest();
        // Edge-triggered: each arrival is one event, bytes left in the socket raise none.
        if (!Add(fd, EPOLLIN | EPOLLRDHUP | EPOLLET)) return;  // out of memory: closed
        waiting_.push_back(std::move(connection));
        byHandle_[fd] = std::prev(waiting_.end());
        ++count_;
    }
    // Bytes arrived on a waiting connection: with its header whole it moves to the ready
    // queue; one that ended without a byte is closed.
    void Arrived(int fd, std::uint32_t events) {
        const auto found = byHandle_.find(fd);
        if (found == byHandle_.end()) return;
        const bool hungUp = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        switch (PeekHeader(fd, scratch_, hungUp)) {
            case THeaderState::Ready:
                Ready.push_back(Remove(found->second));
                break;
            case THeaderState::Gone:
                Remove(found->second);
                break;
            case THeaderState::Partial:
                break;
        }
    }
    bool DropOldest() {
        if (waiting_.empty()) return false;
        Remove(waiting_.begin());
        return true;
    }
    // Closes the connections whose header deadline has passed.
    void DropExpired(TClock::time_point now) {
        while (!waiting_.empty() && waiting_.front()->HeaderDeadline() <= now)
            DropOldest();
    }
    TClock::time_point NextDeadline() const {
        return waiting_.empty() ? TClock::time_point::max() : waiting_.front()->HeaderDeadline();
    }
    // While the ready queue is full the listening socket is left alone: connections wait in its
    // queue.
    void ArmListener(bool armed) {
        if (armed == armed_) return;
        epoll_event event{};
        event.events = armed ? static_cast<std::uint32_t>(EPOLLIN) : 0U;
        event.data.fd = listener_;
        if (::epoll_ctl(Handle(), EPOLL_CTL_MOD, listener_, &event) == 0) armed_ = armed;
    }

    // Headers that arrived whole since the last turn, for the server's ready queue.
    std::list<std::unique_ptr<TServerClientWinSocket>> Ready;

  private:
    using TWaiting = std::list<std::unique_ptr<TServerClientWinSocket>>;

    bool Add(int fd, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return ::epoll_ctl(Handle(), EPOLL_CTL_ADD, fd, &event) == 0;
    }
    std::unique_ptr<TServerClientWinSocket> Remove(TWaiting::iterator at) {
        std::unique_ptr<TServerClientWinSocket> connection = std::move(*at);
        const int fd = connection->Handle();
        ::epoll_ctl(Handle(), EPOLL_CTL_DEL, fd, nullptr);
        byHandle_.erase(fd);
        waiting_.erase(at);
        --count_;
        return connection;
    }

    base::UniqueFd epoll_;
    int listener_;
    bool armed_ = true;
    TWaiting waiting_;
    std::unordered_map<int, TWaiting::iterator> byHandle_;
    std::vector<char> scratch_ = std::vector<char>(kHeaderPeekLimit);
    std::atomic<std::size_t>& count_;
};

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
    BlockBrokenPipeForThisThread();

    bool leave = false;
    bool handedOver = false;  // the next connection came from the ready queue: no wake-up
    while (!leave) {
        std::unique_ptr<TServerClientWinSocket> done;
        try {
            if (!handedOver) {
                wake_.Wait();
                wake_.Reset();
            }
            if (!Terminated()) ServeConnection();
            std::lock_guard guard(listener_.listLock_);
            done = std::move(connection_);
            handedOver = !Terminated() && !listener_.ready_.empty();
            if (handedOver) {
                // A connection waits for a thread: this one serves it rather than ending or
                // idling, so a burst costs no thread start per connection.
                listener_.Reactivate(*this, std::move(listener_.ready_.front()));
                listener_.ready_.pop_front();
            } else {
                leave = Terminated() || !StayCached;
                if (leave) listener_.ThreadEnding(*this);
            }
        } catch (...) {
            ReportException(std::current_exception());
            std::lock_guard guard(listener_.listLock_);
            StayCached = false;
            done = std::move(connection_);
            leave = true;
            handedOver = false;
            listener_.ThreadEnding(*this);
        }
        done.reset();  // its descriptor is free before the accept thread hears of it
        listener_.ThreadFreed(leave, handedOver);
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
    SetCacheLimitLocked(limit);
}

void TServerWinSocket::SetCacheLimitLocked(int limit) {
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

std::size_t TServerWinSocket::ReadyConnectionCount() {
    std::lock_guard guard(listLock_);
    return ready_.size();
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

std::string TServerWinSocket::LocalAddress() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (Handle() < 0 ||
        ::getsockname(Handle(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return text;
}

void TServerWinSocket::OnDisconnect() {
    if (OnListenChange) OnListenChange(false);
}

std::thread TServerWinSocket::StartAcceptThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

void TServerWinSocket::Listen(std::uint16_t port) {
    std::lock_guard guard(lock_);
    if (Handle() >= 0) throw ESocketError(kOpenSocketText);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, BindAddress.c_str(), &address.sin_addr) != 1) {
        throw ESocketError(SocketErrorText(EINVAL, "bind"));
    }
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (handle < 0) throw ESocketError(kNoSocketText);
    Attach(handle);
    const auto fail = [&](int code, const char* api) {
        CloseLocked();
        wake_.Reset();
        throw ESocketError(SocketErrorText(code, api));
    };
    // Lets a restarted server bind while old connections linger in TIME_WAIT; on Linux it does
    // not let two listeners share a port.
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail(errno, "bind");
    }
    // The system holds a new connection back until its first bytes arrive (or about this long,
    // then it is accepted all the same): a client that connects and then sends costs no turn
    // of the waiting connections, and one that sends nothing costs no descriptor meanwhile.
    ::setsockopt(handle, IPPROTO_TCP, TCP_DEFER_ACCEPT, &kDeferAcceptSeconds,
                 sizeof kDeferAcceptSeconds);
    // An accepted socket inherits its waits from the listening one.
    if (ConnectionWaitMs >= 0) SetSocketWait(handle, ConnectionWaitMs);
    if (OnListenChange) OnListenChange(true);
    if (::listen(handle, kListenBacklog) != 0) fail(errno, "listen");
    connected_ = true;
    wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) fail(errno, "eventfd");
    std::shared_ptr<TWaiter> waiter;
    try {
        waiter = std::make_shared<TWaiter>(handle, wake_.Get(), waitingCount_);
        acceptStop_ = false;
        acceptThread_ = StartAcceptThread([this, waiter] { AcceptLoop(*waiter); });
    } catch (const std::system_error& e) {
        fail(e.code().value(), "pthread_create");
    } catch (const ESocketError&) {
        CloseLocked();
        wake_.Reset();
        throw;
    }
}

void TServerWinSocket::AcceptLoop(TWaiter& waiter) {
    // The descriptor is the accept thread's for its whole life: Disconnect closes it only after
    // this thread has ended.
    const int listener = Handle();
    epoll_event events[kMaxEvents];
    while (!acceptStop_) {
        const bool trimPending = ReapFinished();
        const TClock::time_point now = TClock::now();
        waiter.DropExpired(now);
        bool room;
        bool stalled;
        {
            std::lock_guard guard(listLock_);
            for (auto& connection : waiter.Ready)
                ready_.push_back(std::move(connection));
        }
        waiter.Ready.clear();
        HandOverReady();
        {
            std::lock_guard guard(listLock_);
            room = ReadyRoomLocked();
            // A thread that takes from a full queue wakes this one.
            threadWanted_ = !room;
            // Connections wait with no thread to finish: a thread could not be started.
            stalled = !ready_.empty() && activeThreads_.empty();
        }
        waiter.ArmListener(room);

        int timeoutMs = -1;
        if (waiter.NextDeadline() != TClock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(waiter.NextDeadline() - now);
            timeoutMs = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
        }
        if ((trimPending || stalled) && (timeoutMs < 0 || timeoutMs > kRetryMs)) {
            timeoutMs = kRetryMs;  // to try again
        }
        const int count = ::epoll_wait(waiter.Handle(), events, kMaxEvents, timeoutMs);
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_.Get()) {
                std::uint64_t value;
                while (::read(fd, &value, sizeof value) > 0) {
                }
            } else if (fd == listener) {
                AcceptWaiting(waiter, listener);
            } else {
                waiter.Arrived(fd, events[i].events);
            }
        }
    }
}

void TServerWinSocket::AcceptWaiting(TWaiter& waiter, int listener) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int handle =
            ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (handle < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors: a connection that has sent nothing makes room.
            if (OutOfResources(errno) && waiter.DropOldest()) continue;
            if (OutOfResources(errno)) std::this_thread::sleep_for(kAcceptRetryDelay);
            return;  // EAGAIN: the queue is empty
        }
        try {
            // The peer's address comes with the connection; asking for it again would cost a
            // call per request.
            auto connection = std::make_unique<TServerClientWinSocket>(
                handle, this, length == sizeof peer ? &peer : nullptr);
            connection->KnowAccepted(ConnectionWaitMs);
            connection->SetHeaderDeadline(TClock::now() +
                                          std::chrono::milliseconds(HeaderWaitMs));
            waiter.Accepted(std::move(connection));
        } catch (const std::bad_alloc&) {
            // Out of memory for one more connection: it is closed, the loop goes on.
        }
    }
}

bool TServerWinSocket::ReadyRoomLocked() const {
    return static_cast<int>(ready_.size()) < std::max(ThreadLimit, 1);
}

void TServerWinSocket::HandOverReady() {
    // Creating a thread and waking one are the costly steps of a hand-off, and connection threads
    // that finish take the list lock too; so the list lock covers only the choice of the thread.
    // Only the accept thread starts threads, and Disconnect stops it first.
    for (;;) {
        TServerClientThread* thread = nullptr;
        bool created = false;
        {
            std::lock_guard guard(listLock_);
            if (ready_.empty()) return;
            for (auto& candidate : activeThreads_) {
                if (!candidate->HasConnection()) {
                    thread = candidate.get();
                    break;
                }
            }
            if (!thread) {
                if (static_cast<int>(activeThreads_.size() + finishedThreads_.size()) >=
                    std::max(ThreadLimit, 1)) {
                    return;  // the next thread to finish takes the oldest
                }
                activeThreads_.push_back(CreateServerThread());
                thread = activeThreads_.back().get();
                thread->StayCached = cacheLimit_ >= static_cast<int>(activeThreads_.size());
                created = true;
            }
            Reactivate(*thread, std::move(ready_.front()));
            ready_.pop_front();
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

void TServerWinSocket::ThreadFreed(bool ended, bool tookWaiting) {
    // An ended thread is to be joined; room in a full ready queue lets the accept thread accept
    // again; an idle thread is news to nobody.
    if (ended || (tookWaiting && threadWanted_.exchange(false))) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_.Get(), &one, sizeof one);
    }
}

bool TServerWinSocket::ReapFinished() {
    std::vector<std::unique_ptr<TServerClientThread>> finished;
    {
        std::lock_guard guard(listLock_);
        finished.swap(finishedThreads_);
    }
    if (!finished.empty()) {
        // A finished thread may still be in its last steps (ThreadEnded is virtual): each is
        // joined while its object is whole, and only then destroyed.
        for (auto& thread : finished)
            thread->Join();
        finished.clear();
        trimOwed_ = true;
    }
    // Give the memory of a burst back to the system once it has passed.
    if (!trimOwed_) return false;
    const auto now = TClock::now();
    if (ActiveThreadCount() <= static_cast<std::size_t>(std::max(CacheLimit(), 0)) &&
        now - lastTrim_ >= kTrimInterval) {
        lastTrim_ = now;
        trimOwed_ = false;
        ::malloc_trim(0);
    }
    return trimOwed_;
}

void TServerWinSocket::Disconnect() {
    std::lock_guard guard(lock_);
    // The accept thread first: with it the connections that wait for their first bytes go, and
    // no connection is handed over any more.
    acceptStop_ = true;
    if (acceptThread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_.Get(), &one, sizeof one);
        acceptThread_.join();
    }
    int savedLimit;
    std::deque<std::unique_ptr<TServerClientWinSocket>> unserved;
    {
        std::lock_guard lists(listLock_);
        savedLimit = cacheLimit_;
        SetCacheLimitLocked(0);
        unserved.swap(ready_);
    }
    unserved.clear();  // closed unanswered, as the accept queue's connections are
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
    ReapFinished();
    CloseLocked();
    wake_.Reset();  // every thread that could write it has been joined
    {
        std::lock_guard lists(listLock_);
        cacheLimit_ = savedLimit;
    }
}

}  // namespace zephyrine::server
