// Blocking server sockets: the listening socket with its accept thread and its cache of
// connection threads, the accepted connections, and the stream over a connection with its wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include "server/ServerConnection.h"
#include "base/Stream.h"

namespace zephyrine::server {

// Winsock 1.1 capped the accept queue at 5; a queue that short drops the connection attempts of a
// burst of clients, so the system's own maximum is asked for.
inline constexpr int kListenBacklog = SOMAXCONN;
inline constexpr int kSocketWaitMs = 60000;
inline constexpr std::size_t kSendPieceSize = 4096;
inline constexpr int kDefaultCacheLimit = 10;
inline constexpr int kDrainWaitMs = 200;
inline constexpr std::size_t kDrainLimit = 1 << 20;
// Connection threads are made and ended at the rate of connections beyond the cache; a small
// stack keeps that cheap (the C library reuses small stacks of ended threads).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kConnectionThreadStack = 4 << 20;
#else
inline constexpr std::size_t kConnectionThreadStack = 512 << 10;
#endif

inline constexpr const char* kActiveSocketText = "Can't change value while socket is active";
inline constexpr const char* kOpenSocketText = "Can't listen on an open socket";
inline constexpr const char* kNoSocketText = "Can't create new socket";
inline constexpr const char* kNotBlockingText = "Socket must be in blocking mode";

// "Windows socket error: <message> (<code>), on API '<api>'" (the form callers match on).
std::string SocketErrorText(int code, const char* api);
// The system's message text for an error number.
std::string SystemErrorMessage(int code);

class TServerWinSocket;
class TServerClientThread;

// One socket handle with its connected flag and its lock. Every send, receive, peer-name query
// and close runs under the lock.
class TCustomWinSocket {
  public:
    explicit TCustomWinSocket(int handle = -1);
    TCustomWinSocket(const TCustomWinSocket&) = delete;
    TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;
    virtual ~TCustomWinSocket();

    int Handle() const { return handle_.load(); }
    bool IsConnected() const { return connected_.load(); }
    std::recursive_mutex& Lock() { return lock_; }

    // Under the lock: closes the handle (once) and raises the disconnect notification.
    void Close();
    // Without the lock: ends a transfer in progress on another thread at once.
    void ShutdownIO();

  protected:
    void Attach(int handle);
    virtual void OnDisconnect() {}
    void DestroyPendingStream() { pendingStream_.reset(); }

    std::recursive_mutex lock_;
    std::atomic<int> handle_;
    std::atomic<bool> connected_;
    std::unique_ptr<base::TStream> pendingStream_;

  private:
    std::mutex handleLock_;  // orders ShutdownIO against the close of the handle
};

// One accepted connection. It is listed by its server socket while it exists.
class TServerClientWinSocket final : public TCustomWinSocket, public IServerConnection {
  public:
    // A null server gives a connection of its own (tests over a socket pair). The peer address,
    // when known from the accept, is not asked of the socket again.
    TServerClientWinSocket(int handle, TServerWinSocket* server, const sockaddr_in* peer = nullptr);
    ~TServerClientWinSocket() override;

    std::size_t SendBuf(const void* buffer, std::size_t count) override;
    std::size_t ReceiveBuf(void* buffer, std::size_t count) override;
    bool Connected() const override { return IsConnected(); }

    // Sends the stream in pieces of up to 4096 bytes and takes ownership of it. False when a
    // stream is already being sent (the caller keeps the new one) or the connection is closed.
    bool SendWholeStream(std::unique_ptr<base::TStream>& stream);

    // Holds partial segments back until the connection is closed or a segment fills, so that a
    // header, a small body and the end of the connection leave in one segment.
    void HoldPartialSegments();

    // Input left unread when the connection is closed turns the close into a reset, which can
    // cost the client the answer it has not read yet. So the answer is ended first and such
    // input is read and dropped: at most limit bytes, each read waiting at most waitMs.
    void DrainUnreadInput(int waitMs, std::size_t limit);

    // Peer address as dotted text and its host name by reverse lookup (empty when none).
    void PeerName(std::string& address, std::string& host);

    // The error hook: kind and error number of a failed transfer; it may clear the number.
    std::function<void(TErrorEvent kind, int& code)> OnErrorEvent;

  private:
    void Error(TErrorEvent kind, int code, const char* api);

    TServerWinSocket* server_;
    sockaddr_in peer_{};
    bool hasPeer_;
};

// A stream over a connection: each read or write waits at most waitMs, and a wait that runs out
// gives 0 bytes. Seeking does nothing.
class TWinSocketStream final : public base::TStream {
  public:
    TWinSocketStream(TServerClientWinSocket& connection, int waitMs);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t, base::TSeekOrigin) override { return 0; }
    std::int64_t Size() override { return 0; }

  private:
    TServerClientWinSocket& connection_;
    int waitMs_;
};

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
    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};

// A connection thread: serves the connection it is handed, then waits for the next one while it
// stays cached. Its object is joined and destroyed by the server socket after its body has ended.
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

    // Opens the socket on every local address and starts the accept thread.
    void Listen(std::uint16_t port);
    // Stops every connection thread, the accept thread and closes the socket.
    void Disconnect();
    // The port the socket is bound to (the system's choice when 0 was asked for).
    std::uint16_t LocalPort() const;

    void SetServerType(TServerType type);
    TServerType ServerType() const { return serverType_; }
    int CacheLimit();
    // 0 also clears StayCached of every thread.
    void SetCacheLimit(int limit);

    // Raised on listen (true) and close (false).
    std::function<void(bool listening)> OnListenChange;

    // For observers: counts under the list lock.
    std::size_t ActiveThreadCount();
    std::size_t IdleThreadCount();
    std::size_t ConnectionCount();

  protected:
    virtual std::unique_ptr<TServerClientThread> CreateServerThread() = 0;
    void OnDisconnect() override;

  private:
    friend class TServerClientWinSocket;
    friend class TServerClientThread;

    void AcceptLoop();
    void GetServerThread(std::unique_ptr<TServerClientWinSocket> connection);
    // Under the list lock: hands the thread its connection; the caller then wakes the thread.
    void Reactivate(TServerClientThread& thread,
                    std::unique_ptr<TServerClientWinSocket> connection);
    // Called by a thread under the list lock when its body is about to end.
    void ThreadEnding(TServerClientThread& thread);
    void ReapFinished();

    std::recursive_mutex listLock_;
    std::mutex handOffLock_;  // held by the accept thread from the choice of a thread to its wake
    std::vector<TServerClientWinSocket*> connections_;
    std::vector<std::unique_ptr<TServerClientThread>> activeThreads_;
    std::vector<std::unique_ptr<TServerClientThread>> finishedThreads_;
    int cacheLimit_ = kDefaultCacheLimit;
    bool stopping_ = false;
    TServerType serverType_ = TServerType::ThreadBlocking;
    std::atomic<bool> acceptStop_{false};
    std::thread acceptThread_;
    std::chrono::steady_clock::time_point lastTrim_{};  // the accept thread's
};

}  // namespace zephyrine::server
