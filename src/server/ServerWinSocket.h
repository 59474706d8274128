// The listening socket with its accept thread and its connection threads. The accept thread
// keeps the connections whose request header has not arrived whole in one wait of its own, and
// hands a connection to a thread only once its header is there; the threads are bounded, and a
// few stay cached for the next connections.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/socket.h>

#include "base/UniqueFd.h"
#include "server/WinSocket.h"

namespace zephyrine::server {

// Winsock 1.1 capped the accept queue at 5; a queue that short drops the connection attempts of a
// burst of clients, so the system's own maximum is asked for.
inline constexpr int kListenBacklog = SOMAXCONN;
inline constexpr int kDefaultCacheLimit = 10;
// Connection threads alive at once. Past it as many connections with their header wait for the
// next free thread, and further ones wait to be accepted.
inline constexpr int kMaxConnectionThreads = 64;
// From the accept, the whole request header must arrive within this time.
inline constexpr int kHeaderWaitMs = 60000;
// Connections whose header has not arrived whole, held by the accept thread; past it the
// oldest goes.
inline constexpr std::size_t kMaxWaitingConnections = 4096;
// How much of a waiting connection's input is looked at for the end of its header.
inline constexpr std::size_t kHeaderPeekLimit = 16384;
inline constexpr const char* kEveryAddress = "0.0.0.0";
inline constexpr const char* kLoopbackAddress = "127.0.0.1";
// Connection threads are made and ended at the rate of connections beyond the cache; a small
// stack keeps that cheap (the C library reuses small stacks of ended threads).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kConnectionThreadStack = 4 << 20;
#else
inline constexpr std::size_t kConnectionThreadStack = 512 << 10;
#endif

// A manual-reset event for one waiting thread. It waits on a condition variable: std::atomic's
// wait (and the semaphores built on it) spins and yields before it sleeps, which under load
// quadrupled the 99th-percentile latency of the requests, since the waiting threads take turns
// from the ones that have work.
class TEvent {
  public:
    void Set();
    void Reset();
    void Wait();

  private:
    std::mutex lock_;  // guards set_
    std::condition_variable changed_;
    bool set_ = false;
};

// A connection thread: serves the connection it is handed, then the connections that wait for a
// thread, if any, and then waits for the next one while it stays cached. Its object is joined and destroyed by the server socket after its body has ended.
class TServerClientThread {
  public:
    explicit TServerClientThread(TServerWinSocket& listener);
    TServerClientThread(const TServerClientThread&) = delete;
    TServerClientThread& operator=(const TServerClientThread&) = delete;
    virtual ~TServerClientThread();

    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_.load(); }
    void Join();
    TEvent& WakeEvent() { return wake_; }

    // Both under the listener's list lock.
    bool HasConnection() const { return connection_ != nullptr; }
    bool StayCached = false;

  protected:
    virtual void ServeConnection() = 0;
    virtual void ReportSocketError(TErrorEvent kind, int& code);
    virtual void ReportException(std::exception_ptr error) = 0;
    // Runs on the thread as the last step of its body.
    virtual void ThreadEnded() {}

    // Valid on the thread between its wake-up and the end of ServeConnection.
    TServerClientWinSocket& Connection() const { return *connection_; }
    TServerWinSocket& Listener() const { return listener_; }

  private:
    friend class TServerWinSocket;
    void Execute();

    TServerWinSocket& listener_;
    std::unique_ptr<TServerClientWinSocket> connection_;
    std::atomic<bool> terminated_{false};
    TEvent wake_;
    pthread_t thread_{};
    bool started_ = false;
};

enum class TServerType { ThreadBlocking, NonBlocking };

// The listening socket.
class TServerWinSocket : public TCustomWinSocket {
  public:
    TServerWinSocket();
    ~TServerWinSocket() override;

    // Opens the socket on BindAddress and starts the accept thread. A failure leaves the socket
    // closed.
    void Listen(std::uint16_t port);
    // Stops the accept thread and every connection thread, and closes the socket.
    void Disconnect();
    // The port the socket is bound to (the system's choice when 0 was asked for).
    std::uint16_t LocalPort() const;
    // The address the socket is bound to, as dotted text; empty while closed.
    std::string LocalAddress() const;

    void SetServerType(TServerType type);
    TServerType ServerType() const { return serverType_; }
    int CacheLimit();
    // 0 also clears StayCached of every thread.
    void SetCacheLimit(int limit);

    // Settings read by Listen; changed only while the socket is closed. Tests lower the limits.
    std::string BindAddress = kEveryAddress;  // dotted IPv4 text
    int ThreadLimit = kMaxConnectionThreads;
    int HeaderWaitMs = kHeaderWaitMs;
    // The send and receive wait the connections are accepted with (-1: the system's), so that
    // the stream over a connection that asks for this wait need not set it again.
    int ConnectionWaitMs = -1;

    // Raised on listen (true) and close (false).
    std::function<void(bool listening)> OnListenChange;

    // For observers: counts under the list lock.
    std::size_t ActiveThreadCount();
    std::size_t IdleThreadCount();
    std::size_t ConnectionCount();
    // Connections with their header that wait for a thread, past the thread limit.
    std::size_t ReadyConnectionCount();
    // Connections accepted whose header has not arrived whole; they hold no thread.
    std::size_t WaitingConnectionCount() const { return waitingCount_.load(); }

  protected:
    virtual std::unique_ptr<TServerClientThread> CreateServerThread() = 0;
    // Starts the accept thread's body; a test may make it fail.
    virtual std::thread StartAcceptThread(std::function<void()> body);
    void OnDisconnect() override;

  private:
    friend class TServerClientWinSocket;
    friend class TServerClientThread;
    class TWaiter;

    void AcceptLoop(TWaiter& waiter);
    // Accepts every connection in the listening queue into the waiter.
    void AcceptWaiting(TWaiter& waiter, int listener);
    // Hands the connections of ready_ to idle threads, or to new ones below the thread limit;
    // past it they wait there for the next thread to finish.
    void HandOverReady();
    // Under the list lock: whether ready_ has room for more; past it the listening queue holds
    // new connections.
    bool ReadyRoomLocked() const;
    // Under the list lock: hands the thread its connection; the caller then wakes the thread.
    void Reactivate(TServerClientThread& thread,
                    std::unique_ptr<TServerClientWinSocket> connection);
    // Called by a thread under the list lock when its body is about to end.
    void ThreadEnding(TServerClientThread& thread);
    // Called by a thread, without the list lock, when it has finished a connection (ended: and
    // its body is ending; tookWaiting: it took the next one from ready_).
    void ThreadFreed(bool ended, bool tookWaiting);
    void SetCacheLimitLocked(int limit);
    // Joins and destroys the threads that ended; true while memory is still to be given back.
    bool ReapFinished();

    // Guards connections_, activeThreads_, finishedThreads_, ready_, cacheLimit_, each thread's
    // connection_ and StayCached.
    std::mutex listLock_;
    std::vector<TServerClientWinSocket*> connections_;
    std::vector<std::unique_ptr<TServerClientThread>> activeThreads_;
    // Connections with their header, waiting for a thread (oldest first). While it holds any, no
    // thread is idle: a thread that finishes takes the oldest instead of ending.
    std::deque<std::unique_ptr<TServerClientWinSocket>> ready_;
    std::vector<std::unique_ptr<TServerClientThread>> finishedThreads_;
    int cacheLimit_ = kDefaultCacheLimit;
    TServerType serverType_ = TServerType::ThreadBlocking;
    // The accept thread's wake-up: written when it is to stop, when a thread ends, and when a
    // thread makes room in a full ready_.
    base::UniqueFd wake_;
    std::atomic<bool> acceptStop_{false};
    std::atomic<bool> threadWanted_{false};
    std::atomic<std::size_t> waitingCount_{0};
    std::thread acceptThread_;
    // The accept thread's while it runs, then Disconnect's.
    std::chrono::steady_clock::time_point lastTrim_{};
    bool trimOwed_ = false;
};

}  // namespace zephyrine::server
