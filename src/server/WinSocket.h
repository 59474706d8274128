// Blocking sockets of the server: one socket handle with its lock, the accepted connection, and
// the stream over a connection with its wait. The listener and its threads are ServerWinSocket.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

#include "server/ServerConnection.h"
#include "base/Stream.h"

namespace zephyrine::server {

inline constexpr int kSocketWaitMs = 60000;
inline constexpr std::size_t kSendPieceSize = 4096;
// Bytes asked of one sendfile call (the system's own cap per call).
inline constexpr std::size_t kSendFileStep = 0x7ffff000;
inline constexpr int kDrainWaitMs = 200;
inline constexpr std::size_t kDrainLimit = 1 << 20;

inline constexpr const char* kActiveSocketText = "Can't change value while socket is active";
inline constexpr const char* kOpenSocketText = "Can't listen on an open socket";
inline constexpr const char* kNoSocketText = "Can't create new socket";
inline constexpr const char* kNotBlockingText = "Socket must be in blocking mode";

// "Windows socket error: <message> (<code>), on API '<api>'" (the form callers match on).
std::string SocketErrorText(int code, const char* api);
// The system's message text for an error number.
std::string SystemErrorMessage(int code);
// Sets the receive and send waits of a socket.
void SetSocketWait(int handle, int waitMs);
// Blocks SIGPIPE on the calling thread for good, so that its file sends need no guard each. For
// threads that only serve connections.
void BlockBrokenPipeForThisThread();

class TServerWinSocket;

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

    // Under the lock: closes the handle (once) and raises the disconnect notification.
    void Close();
    // Without the lock: ends a transfer in progress on another thread at once.
    void ShutdownIO();

  protected:
    void Attach(int handle);
    // Close with the lock held by the caller.
    void CloseLocked();
    virtual void OnDisconnect() {}

    // Guards the transfers on the handle and its close, and pendingStream_. A stream read holds
    // it for up to its whole wait.
    std::mutex lock_;
    std::atomic<int> handle_;
    std::atomic<bool> connected_;
    std::unique_ptr<base::TStream> pendingStream_;

  private:
    std::mutex handleLock_;  // orders ShutdownIO against the close of the handle
};

// One accepted connection. It is listed by its server socket while it exists.
class TServerClientWinSocket final : public TCustomWinSocket, public IServerConnection {
  public:
    using TClock = std::chrono::steady_clock;

    // A null server gives a connection of its own (tests over a socket pair). The peer address,
    // when known from the accept, is not asked of the socket again.
    TServerClientWinSocket(int handle, TServerWinSocket* server, const sockaddr_in* peer = nullptr);
    ~TServerClientWinSocket() override;

    std::size_t SendBuf(const void* buffer, std::size_t count) override;
    std::size_t ReceiveBuf(void* buffer, std::size_t count) override;
    bool Connected() const override { return IsConnected(); }

    // Sends the stream to its end and takes ownership of it: a file by sendfile, any other stream
    // in pieces of up to kSendPieceSize bytes. False when a stream is already being sent (the
    // caller keeps the new one) or the connection is closed.
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

    // The moment by which the request header must have arrived: a stream read past it closes
    // the connection. Set by the listener on accept; ended once the header is read.
    void SetHeaderDeadline(TClock::time_point deadline) { headerDeadline_ = deadline; }
    void EndHeaderDeadline() { headerDeadline_ = TClock::time_point::max(); }
    TClock::time_point HeaderDeadline() const { return headerDeadline_; }

    // Accepted here in blocking mode with the given send and receive wait (-1: the system's):
    // a stream over it need not ask or set either again.
    void KnowAccepted(int waitMs) {
        knownBlocking_ = true;
        knownWaitMs_ = waitMs;
    }

    // The error hook: kind and error number of a failed transfer; it may clear the number.
    std::function<void(TErrorEvent kind, int& code)> OnErrorEvent;

  private:
    friend class TWinSocketStream;
    void Error(TErrorEvent kind, int code, const char* api);

    TServerWinSocket* server_;
    sockaddr_in peer_{};
    bool hasPeer_;
    // Read and written only by the thread that serves the connection (and by the accept thread
    // before the hand-over).
    TClock::time_point headerDeadline_ = TClock::time_point::max();
    bool knownBlocking_ = false;
    int knownWaitMs_ = -1;  // the waits the socket has now; -1 unknown
};

// A stream over a connection: each read or write waits at most waitMs, and a wait that runs out
// gives 0 bytes. While the connection's header deadline runs, a read waits at most until it,
// and a read past it closes the connection and raises ESocketError. Seeking does nothing.
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

}  // namespace zephyrine::server
