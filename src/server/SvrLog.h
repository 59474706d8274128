// The server's transaction log: entries made on any thread, queued under one lock and handed out
// one at a time, in order, on the thread that owns the log.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/ServerConnection.h"
#include "server/ServerTime.h"

namespace zephyrine::server {

class TWebServerRequest;
class TCustomWebServer;

inline constexpr const char* kResponseEventText = "RESPONSE";
inline constexpr const char* kErrorEventText = "ERROR";
inline constexpr const char* kSendEventText = "Send";
inline constexpr const char* kReceiveEventText = "Receive";
inline constexpr const char* kErrorLineFormat = "%s %s Error: (%d)%s";

// The columns of an entry's row; every other column number gives empty text.
namespace column {
enum TLogColumn : int {
    kEvent = 0,
    kTime = 1,
    kDate = 2,
    kElapsed = 3,
    kPath = 4,
    kStatus = 5,
    kContentLength = 6,
    kContentType = 7,
    kThreadID = 8,
};
}  // namespace column
inline constexpr int kLogColumnCount = column::kThreadID + 1;

std::uint32_t CurrentThreadID();

class TTransactionLogEntry {
  public:
    TTransactionLogEntry();
    TTransactionLogEntry(const TTransactionLogEntry&) = delete;
    TTransactionLogEntry& operator=(const TTransactionLogEntry&) = delete;
    virtual ~TTransactionLogEntry() = default;

    virtual std::string GetDetailText() const = 0;
    // Columns 0 to 8; any other column is empty.
    virtual std::string GetColumnText(int column) const;

    std::string Event;
    TDateTime Time = 0;
    TDateTime Elapsed = 0;
    std::uint32_t ThreadID = 0;
};

class THTTPTransaction : public TTransactionLogEntry {
  public:
    std::string GetDetailText() const override { return MessageText; }
    std::string GetColumnText(int column) const override;

    std::int32_t ContentLength = 0;
    std::string ContentType;
    std::string MessageText;
};

class TRequestTransaction final : public THTTPTransaction {
  public:
    explicit TRequestTransaction(TWebServerRequest& request);
    std::string GetColumnText(int column) const override;

    std::string Path;
};

class TResponseTransaction final : public THTTPTransaction {
  public:
    // Reads the status line, Content-Type and Content-Length back from the sent text.
    explicit TResponseTransaction(const std::string& text);
    std::string GetColumnText(int column) const override;

    std::string StatusText;
    std::string FirstLine;
};

class TErrorTransaction final : public TTransactionLogEntry {
  public:
    TErrorTransaction(TErrorEvent errorEvent, std::int32_t errorCode, std::string message);
    std::string GetDetailText() const override;

    TErrorEvent ErrorEvent;
    std::string Message;
    std::int32_t ErrorCode;
};

// One entry as a line: columns 0 to 8 separated by TAB, an error entry's detail text after one
// more TAB, no line end.
std::string LogLine(const TTransactionLogEntry& entry);

class TCustomServerLog;

// Hands a call to the thread that owns the log (a queued Qt call in the program, a plain queue
// drained by the main loop elsewhere). Calls must run in the order they were posted.
using TPostToOwner = std::function<void(std::function<void()>)>;
// A listener that keeps an entry moves it out of the pointer and sets release to false.
using TLogEntryEvent = std::function<void(
    TCustomServerLog& sender, std::unique_ptr<TTransactionLogEntry>& entry, bool& release)>;

class TCustomServerLog {
  public:
    explicit TCustomServerLog(TPostToOwner post);
    TCustomServerLog(const TCustomServerLog&) = delete;
    TCustomServerLog& operator=(const TCustomServerLog&) = delete;
    virtual ~TCustomServerLog();

    // Callable from any thread; they report nothing to the caller.
    void LogRequest(TWebServerRequest& request);
    void LogResponse(const std::string& text);
    void LogError(TErrorEvent eventKind, int errorCode, const std::string& message);

    void AddEntry(std::unique_ptr<TTransactionLogEntry> entry);
    std::unique_ptr<TTransactionLogEntry> TakeNext();
    // Runs on the owning thread: delivers every queued entry, oldest first.
    void DrainQueue();

    // The log's own listener, used by the base delivery.
    TLogEntryEvent OnEntry;

    struct TRequestTime {
        std::uint32_t ThreadID;
        TDateTime Time;
    };
    std::vector<TRequestTime> RequestTimesCopy() const;
    // Drops the record of a thread that has ended.
    void ForgetThread(std::uint32_t threadID);
    std::size_t QueuedCount() const;

  protected:
    virtual void DeliverEntry(std::unique_ptr<TTransactionLogEntry>& entry, bool& release);

  private:
    TPostToOwner post_;
    // Posted drains hold a weak reference, so a drain that runs after the log is gone does nothing.
    std::shared_ptr<TCustomServerLog*> self_;
    mutable std::mutex lock_;  // guards queue_ and requestTimes_
    std::deque<std::unique_ptr<TTransactionLogEntry>> queue_;
    std::vector<TRequestTime> requestTimes_;
    bool drainPosted_ = false;  // a posted drain has not started yet: it will take new entries too
};

// The server component's log: entries go to the server's OnLogEntry.
class TServerLog final : public TCustomServerLog {
  public:
    TServerLog(TCustomWebServer& server, TPostToOwner post)
        : TCustomServerLog(std::move(post)), server_(server) {}

  protected:
    void DeliverEntry(std::unique_ptr<TTransactionLogEntry>& entry, bool& release) override;

  private:
    TCustomWebServer& server_;
};

// A plain queue of posted calls for a program without an event loop of its own. A queue that
// does not wake its owner on each post is run by the owner's loop at its own pace.
class TOwnerQueue {
  public:
    explicit TOwnerQueue(bool wakeOnPost = true) : wakeOnPost_(wakeOnPost) {}
    TPostToOwner Poster();
    void Post(std::function<void()> call);
    // Runs every call queued so far; returns how many ran.
    std::size_t RunPending();
    // Waits up to timeoutMs for a call, then runs what is queued.
    std::size_t WaitAndRun(int timeoutMs);
    // Makes a waiting WaitAndRun return (from any thread, also from a signal-watching thread).
    void Wake();

  private:
    std::mutex lock_;  // guards calls_ and woken_
    std::condition_variable ready_;
    std::deque<std::function<void()>> calls_;
    bool woken_ = false;
    const bool wakeOnPost_;
};

}  // namespace zephyrine::server
