// TPowersock: the TCP client layer under the HTTP client. Name lookup, connect, sending text,
// reading lines and receiving to the end of the data over one non-blocking socket, with
// time-outs, cancelling and status reports. Everything runs on the caller's thread: every wait
// polls for a short slice and runs the Pump callback in between, so a window stays live while a
// transfer waits, and the events and flags are only touched on that thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "httpclient/HostLookup.h"
#include "httpclient/SockError.h"
#include "httpclient/ThreadTimer.h"

namespace zephyrine::httpclient {

inline constexpr std::size_t kIoBufferSize = 65536;
inline constexpr std::size_t kMaxSendPiece = 65535;
// Bytes looked at per peek while a line is searched for its end.
inline constexpr std::size_t kLinePeekSize = 4096;
// The longest a wait polls before it runs the pump again.
inline constexpr int kWaitSliceMs = 10;
// While data keeps arriving the pump runs at most this often (a block of 64 KiB arrives every
// few dozen microseconds on a fast link, far more often than a window needs its events run).
inline constexpr int kPumpWhileReceivingMs = 2;
// With TimeOut 0, a wait in which nothing arrives for this long ends as a time-out.
inline constexpr unsigned kSilentServerLimitMs = 60000;

// Status report levels: a report passes when ReportLevel is at least its level.
enum TReportLevel : int { kLevelCompleted = 2, kLevelTransfer = 4, kLevelDetail = 8 };

inline constexpr const char* kLookupTimedOutText = "Host Lookup Timed Out";
inline constexpr const char* kLookupCanceledText = "Host Lookup Canceled";
inline constexpr const char* kLineTooLongText = "Line too long";

class TPowersock {
  public:
    // Throws ESockError "Initializaton of windows sockets failed" when no socket can be made.
    TPowersock();
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;
    virtual ~TPowersock();

    // Host name or dotted IPv4 address, TCP port, time-out in milliseconds for lookup, connect
    // and each transfer (0: none but IdleLimit), the highest status level passed on.
    std::string Host;
    int Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    // An HTTP proxy: when set, lookup and connect go to it instead of Host and Port.
    std::string Proxy;
    int ProxyPort = 0;
    // The limit of a wait while TimeOut is 0; 0 lifts it.
    unsigned IdleLimit = kSilentServerLimitMs;

    std::function<void()> OnConnect;
    std::function<void()> OnConnectionFailed;          // Connect is about to raise
    std::function<void()> OnDisconnect;                // a socket was closed
    std::function<void(bool& handled)> OnInvalidHost;  // handled: one more try
    std::function<void()> OnHostResolved;
    std::function<void(const std::string& status)> OnStatus;
    std::function<void()> OnPacketRecvd;  // after each block of a capture
    // Runs between the polls of every wait: the caller's event loop. It may call Abort; it must
    // not destroy this object.
    std::function<void()> Pump;

    virtual void Connect();
    virtual void Disconnect();
    // Ends the wait or transfer under way with its cancel error.
    virtual void Abort();
    void Cancel();

    // Sends the text up to its first NUL byte; Writeln adds CR LF.
    void Write(std::string_view text);
    void Writeln(std::string_view text);
    // Sends length bytes.
    void SendBuffer(const char* data, std::size_t length);
    // The next line including its line end; the bytes after it stay in the socket. The bytes
    // received so far when the peer closes (empty when none).
    std::string ReadLn();
    // Sends a command line and reads one reply line; its leading number (0 when none).
    int Transaction(std::string_view command);
    // Receive until the peer closes: into the file (created or emptied), or into target, at
    // most limit bytes unless limit is -1.
    void CaptureFile(const std::string& fileName);
    void CaptureString(std::string& target, long long limit);
    bool DataAvailable();

    void ReportStatus(int level, std::string_view text);
    // Takes errno as LastErrorCode; raises its message unless it is the code to ignore.
    void CheckSocketError(int ignore);

    bool Connected() const { return connected_; }
    bool Canceled() const { return canceled_; }
    bool TimedOut() const { return timedOut_; }
    bool LookupDone() const { return lookupDone_; }
    bool LastEventOk() const { return lastEventOk_; }
    int LastErrorCode() const { return lastErrorCode_; }
    const std::string& LastStatus() const { return lastStatus_; }
    long long BytesReceived() const { return bytesReceived_; }
    std::uint32_t RemoteAddress() const { return remoteAddress_; }  // network byte order
    int Handle() const { return socket_; }
    const TThreadTimer& Timer() const { return timer_; }

  protected:
    void ResolveHost();
    void TimerOn();
    void TimerOff();
    void SetLookupDone() { lookupDone_ = true; }

  private:
    enum class TWaitEnd { Ready, Flag, Canceled };
    // The one wait: polls the socket for events (0: none), the timer and a running lookup for
    // a slice, takes the timer's tick and the lookup's end, runs the pump; until the socket is
    // ready, *flag is set or the object is cancelled.
    TWaitEnd Wait(short events, const bool* flag);
    void LookupFinished();
    void ConnectFinished();
    void Capture(long long limit, const std::function<void(const char*, std::size_t)>& store);
    void MakeSocket(bool first);
    void CloseSocket();
    void TimerTriggered();

    int socket_ = -1;
    std::uint32_t remoteAddress_ = 0;
    bool connected_ = false;
    bool canceled_ = false;
    bool timedOut_ = false;
    bool lookupDone_ = false;
    bool lastEventOk_ = true;
    bool destroying_ = false;
    int lastErrorCode_ = 0;
    std::string lastStatus_;
    long long bytesReceived_ = 0;
    THostLookup lookup_;
    TThreadTimer timer_;
    std::array<char, kIoBufferSize> ioBuffer_;
};

}  // namespace zephyrine::httpclient
