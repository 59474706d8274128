#include "server/SvrLog.h"

#include <unistd.h>

#include <cstdio>

#include "server/HTTPParse.h"
#include "base/Stream.h"
#include "server/WebServerRequest.h"

namespace zephyrine::server {

namespace {

std::string LeftTrimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first);
}

// A whole decimal number that fits 32 bits, blanks around it allowed, or false.
bool ParseWholeNumber(const std::string& text, std::int32_t& value) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    const auto last = text.find_last_not_of(" \t");
    const auto number =
        base::DigitsValue(std::string_view(text).substr(first, last - first + 1), 10, INT32_MAX);
    if (number) value = static_cast<std::int32_t>(*number);
    return number.has_value();
}

}  // namespace

std::uint32_t CurrentThreadID() {
    thread_local const auto id = static_cast<std::uint32_t>(::gettid());
    return id;
}

TTransactionLogEntry::TTransactionLogEntry() : Time(NowLocal()), ThreadID(CurrentThreadID()) {}

std::string LogLine(const TTransactionLogEntry& entry) {
    std::string line;
    for (int column = 0; column < kLogColumnCount; ++column) {
        if (column > 0) line += '\t';
        line += entry.GetColumnText(column);
    }
    if (dynamic_cast<const TErrorTransaction*>(&entry)) line += '\t' + entry.GetDetailText();
    return line;
}

std::string TTransactionLogEntry::GetColumnText(int column) const {
    switch (column) {
        case column::kEvent:
            return Event;
        case column::kTime:
            return FormatTimeMs(Time);
        case column::kDate:
            return FormatDateTime(Time, "%x");
        case column::kThreadID:
            return std::to_string(ThreadID);
        default:
            return {};
    }
}

std::string THTTPTransaction::GetColumnText(int column) const {
    switch (column) {
        case column::kContentLength:
            return std::to_string(ContentLength);
        case column::kContentType:
            return ContentType;
        default:
            return TTransactionLogEntry::GetColumnText(column);
    }
}

TRequestTransaction::TRequestTransaction(TWebServerRequest& request) {
    Event = request.GetVarText(var::kRequestMethod);
    Time = NowLocal();
    Path = request.GetVarText(var::kPathInfo);
    try {
        ContentLength = static_cast<std::int32_t>(request.GetVarInt(var::kContentLength));
    } catch (...) {
        ContentLength = 0;
    }
    ContentType = request.GetVarText(var::kContentType);
    MessageText = request.GetRawRequest();
}

std::string TRequestTransaction::GetColumnText(int column) const {
    return column == column::kPath ? Path : THTTPTransaction::GetColumnText(column);
}

TResponseTransaction::TResponseTransaction(const std::string& text) {
    Event = kResponseEventText;
    MessageText = text;
    try {
        base::TMemoryStream stream(text);
        THTTPParser parser(stream);
        FirstLine = parser.RestOfLine();
        if (parser.Token() == token::kLineEnd) parser.Advance();
        while (parser.Token() != token::kEOF && parser.Token() != token::kLineEnd) {
            const int kind = parser.Token();
            if (kind == token::kContentType || kind == token::kContentLength) {
                parser.Advance();
                if (parser.Token() == ':') parser.Advance();
                const std::string value = parser.RestOfLine();
                if (kind == token::kContentType) {
                    if (ContentType.empty()) ContentType = LeftTrimmed(value);
                } else {
                    ParseWholeNumber(value, ContentLength);
                }
            } else {
                parser.RestOfLine();
            }
            if (parser.Token() == token::kLineEnd) parser.Advance();
        }
    } catch (...) {
        // A sent text that does not tokenize still logs with what was read of it.
    }
    if (const auto space = FirstLine.find(' '); space != std::string::npos) {
        StatusText = FirstLine.substr(space + 1);
    }
}

std::string TResponseTransaction::GetColumnText(int column) const {
    switch (column) {
        case column::kElapsed:
            return FormatTimeMs(Elapsed);
        case column::kStatus:
            return StatusText;
        default:
            return THTTPTransaction::GetColumnText(column);
    }
}

TErrorTransaction::TErrorTransaction(TErrorEvent errorEvent, std::int32_t errorCode,
                                     std::string message)
    : ErrorEvent(errorEvent), Message(std::move(message)), ErrorCode(errorCode) {
    Event = kErrorEventText;
}

std::string TErrorTransaction::GetDetailText() const {
    const char* name = ErrorEvent == eeSend      ? kSendEventText
                       : ErrorEvent == eeReceive ? kReceiveEventText
                                                 : "";
    const std::string when = FormatDateTime(Time, "%a, %d %b %Y %H:%M:%S");
    const int n =
        std::snprintf(nullptr, 0, kErrorLineFormat, when.c_str(), name, ErrorCode, Message.c_str());
    std::string out(static_cast<std::size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, kErrorLineFormat, when.c_str(), name, ErrorCode,
                  Message.c_str());
    return out;
}

TCustomServerLog::TCustomServerLog(TPostToOwner post)
    : post_(std::move(post)), self_(std::make_shared<TCustomServerLog*>(this)) {}

TCustomServerLog::~TCustomServerLog() = default;

void TCustomServerLog::LogRequest(TWebServerRequest& request) {
    AddEntry(std::make_unique<TRequestTransaction>(request));
}

void TCustomServerLog::LogResponse(const std::string& text) {
    AddEntry(std::make_unique<TResponseTransaction>(text));
}

void TCustomServerLog::LogError(TErrorEvent eventKind, int errorCode, const std::string& message) {
    AddEntry(std::make_unique<TErrorTransaction>(eventKind, static_cast<std::int32_t>(errorCode),
                                                 message));
}

void TCustomServerLog::AddEntry(std::unique_ptr<TTransactionLogEntry> entry) {
    if (!entry) return;
    std::lock_guard guard(lock_);
    if (dynamic_cast<TRequestTransaction*>(entry.get())) {
        bool found = false;
        for (auto& record : requestTimes_) {
            if (record.ThreadID == entry->ThreadID) {
                record.Time = entry->Time;
                found = true;
                break;
            }
        }
        if (!found) requestTimes_.push_back({entry->ThreadID, entry->Time});
    } else {
        for (const auto& record : requestTimes_) {
            if (record.ThreadID == entry->ThreadID) {
                if (record.Time != 0) entry->Elapsed = entry->Time - record.Time;
                break;
            }
        }
    }
    queue_.push_back(std::move(entry));
    if (post_ && !drainPosted_) {
        drainPosted_ = true;
        std::weak_ptr<TCustomServerLog*> weak = self_;
        post_([weak] {
            if (auto self = weak.lock()) (*self)->DrainQueue();
        });
    }
}

std::unique_ptr<TTransactionLogEntry> TCustomServerLog::TakeNext() {
    std::lock_guard guard(lock_);
    drainPosted_ = false;
    if (queue_.empty()) return nullptr;
    auto entry = std::move(queue_.front());
    queue_.pop_front();
    return entry;
}

void TCustomServerLog::DrainQueue() {
    while (auto entry = TakeNext()) {
        bool release = true;
        DeliverEntry(entry, release);
        // A listener that kept the entry owns it from here on.
        if (!release) static_cast<void>(entry.release());
    }
}

void TCustomServerLog::DeliverEntry(std::unique_ptr<TTransactionLogEntry>& entry, bool& release) {
    if (OnEntry) OnEntry(*this, entry, release);
}

std::vector<TCustomServerLog::TRequestTime> TCustomServerLog::RequestTimesCopy() const {
    std::lock_guard guard(lock_);
    return requestTimes_;
}

void TCustomServerLog::ForgetThread(std::uint32_t threadID) {
    std::lock_guard guard(lock_);
    std::erase_if(requestTimes_, [&](const TRequestTime& r) { return r.ThreadID == threadID; });
}

std::size_t TCustomServerLog::QueuedCount() const {
    std::lock_guard guard(lock_);
    return queue_.size();
}

TPostToOwner TOwnerQueue::Poster() {
    return [this](std::function<void()> call) { Post(std::move(call)); };
}

void TOwnerQueue::Post(std::function<void()> call) {
    bool wasEmpty;
    {
        std::lock_guard guard(lock_);
        wasEmpty = calls_.empty();
        calls_.push_back(std::move(call));
    }
    if (wasEmpty && wakeOnPost_) ready_.notify_one();
}

std::size_t TOwnerQueue::RunPending() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard guard(lock_);
        calls.swap(calls_);
        woken_ = false;
    }
    for (auto& call : calls)
        call();
    return calls.size();
}

std::size_t TOwnerQueue::WaitAndRun(int timeoutMs) {
    {
        std::unique_lock guard(lock_);
        ready_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                        [this] { return !calls_.empty() || woken_; });
    }
    return RunPending();
}

void TOwnerQueue::Wake() {
    {
        std::lock_guard guard(lock_);
        woken_ = true;
    }
    ready_.notify_one();
}

}  // namespace zephyrine::server
