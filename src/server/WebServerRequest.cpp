#include "server/WebServerRequest.h"

#include <algorithm>
#include <cstring>

#include "server/HTTPParse.h"
#include "server/ServerConnection.h"

namespace zephyrine::server {

namespace {

constexpr std::string_view kVariableNames[var::kCount] = {
    "REQUEST_METHOD",
    "SERVER_PROTOCOL",
    "URL",
    "QUERY_STRING",
    "PATH_INFO",
    "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",
    "HTTP_DATE",
    "HTTP_ACCEPT",
    "HTTP_FROM",
    "HTTP_HOST",
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",
    "HTTP_USER_AGENT",
    "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_TYPE",
    "HTTP_CONTENT_LENGTH",
    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",
    "HTTP_EXPIRES",
    "HTTP_TITLE",
    "REMOTE_ADDR",
    "REMOTE_HOST",
    "SCRIPT_NAME",
    "SERVER_PORT",
    "",
    "HTTP_CONNECTION",
    "HTTP_COOKIE",
    "HTTP_AUTHORIZATION",
};

constexpr std::string_view kHttpPrefix = "HTTP_";
// ReadBodyText grows its result by this much at a time rather than trusting the count.
constexpr std::size_t kReadTextPiece = 64 * 1024;
// Room for the extra headers a browser sends, made once.
constexpr std::size_t kExtraHeadersAtFirst = 8;

void CheckIndex(int index) {
    if (index < 0 || index >= var::kCount) throw std::out_of_range("Index out of bounds");
}

int FindVariable(std::string_view name) {
    for (int i = 0; i < var::kCount; ++i) {
        if (SameText(kVariableNames[i], name)) return i;
    }
    return -1;
}

}  // namespace

TWebServerRequest::TWebServerRequest(int port, std::string_view remoteHost,
                                     std::string_view remoteAddress, IServerConnection* connection)
    : connection_(connection) {
    vars_[var::kContentLength] = "0";
    vars_[var::kServerPort] = std::to_string(port);
    vars_[var::kRemoteAddr] = remoteAddress;
    vars_[var::kRemoteHost] = remoteHost;
}

TWebServerRequest::~TWebServerRequest() = default;

std::string_view TWebServerRequest::VariableName(int index) {
    CheckIndex(index);
    return kVariableNames[index];
}

const std::string& TWebServerRequest::StoredVar(int index) const {
    CheckIndex(index);
    return vars_[index];
}

void TWebServerRequest::SetVarText(int index, std::string_view text) {
    CheckIndex(index);
    vars_[index] = text;
    if (index == var::kRequestMethod) MethodChanged();
}

void TWebServerRequest::SetVarText(int index, std::string&& text) {
    CheckIndex(index);
    vars_[index] = std::move(text);
    if (index == var::kRequestMethod) MethodChanged();
}

void TWebServerRequest::MethodChanged() {
    const std::string& text = vars_[var::kRequestMethod];
    if (SameText(text, "GET")) {
        methodType_ = TMethodType::Get;
    } else if (SameText(text, "PUT")) {
        methodType_ = TMethodType::Put;
    } else if (SameText(text, "POST")) {
        methodType_ = TMethodType::Post;
    } else if (SameText(text, "HEAD")) {
        methodType_ = TMethodType::Head;
    }
}

void TWebServerRequest::SetVarInt(int index, int value) {
    SetVarText(index, std::to_string(value));
}

void TWebServerRequest::SetVarDate(int index, TDateTime value) {
    SetVarText(index, DateTimeToText(value));
}

void TWebServerRequest::AddExtraHeader(std::string_view name, std::string_view value) {
    if (extraHeaders_.empty()) extraHeaders_.reserve(kExtraHeadersAtFirst);
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append(1, '=').append(value);
    extraHeaders_.push_back(std::move(line));
}

void TWebServerRequest::SetBody(std::unique_ptr<base::TMemoryStream> bodyBuffer,
                                std::string pendingText) {
    bodyBuffer_ = std::move(bodyBuffer);
    pendingText_ = std::move(pendingText);
    pendingOffset_ = 0;
    pendingSkipped_ = false;
    rawRequest_.reset();
}

const std::string& TWebServerRequest::GetRawRequest() {
    static const std::string kNone;
    if (!bodyBuffer_) return kNone;
    if (!rawRequest_) {
        const std::vector<char>& data = bodyBuffer_->Data();
        rawRequest_.emplace(data.begin(), data.end());
    }
    return *rawRequest_;
}

std::string TWebServerRequest::GetVarText(int index) {
    CheckIndex(index);
    if (index == var::kContent && vars_[index].empty()) {
        const int length = GetVarInt(var::kContentLength);
        if (length != 0) vars_[index] = ReadBodyText(length);
    }
    return vars_[index];
}

TDateTime TWebServerRequest::GetVarDate(int index) {
    const std::string text = GetVarText(index);
    if (text.empty()) return -1.0;
    return ParseDateText(text);
}

int TWebServerRequest::GetVarInt(int index) {
    const std::string text = GetVarText(index);
    if (text.empty()) return -1;
    return StrToInt(text);
}

int TWebServerRequest::ReadBody(void* buffer, int count) {
    if (count <= 0 || buffer == nullptr) return 0;
    char* out = static_cast<char*>(buffer);
    const auto wanted = static_cast<std::size_t>(count);
    std::size_t got = std::min(wanted, pendingText_.size() - pendingOffset_);
    std::memcpy(out, pendingText_.data() + pendingOffset_, got);
    pendingOffset_ += got;
    if (got < wanted && bodyBuffer_) {
        // BodyBuffer holds the pending bytes too; hand out only what follows them.
        if (!pendingSkipped_) {
            bodyBuffer_->Seek(static_cast<std::int64_t>(pendingText_.size()),
                              base::TSeekOrigin::Current);
            pendingSkipped_ = true;
        }
        got += bodyBuffer_->Read(out + got, wanted - got);
    } else if (got < wanted && connection_ != nullptr) {
        while (got < wanted) {
            const std::size_t n = connection_->ReceiveBuf(out + got, wanted - got);
            if (n == 0) break;
            got += n;
        }
    }
    return static_cast<int>(got);
}

std::string TWebServerRequest::ReadBodyText(int count) {
    std::string text;
    if (count <= 0) return text;
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > 0) {
        const std::size_t piece = std::min(remaining, kReadTextPiece);
        const std::size_t had = text.size();
        text.resize(had + piece);
        const int n = ReadBody(text.data() + had, static_cast<int>(piece));
        const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
        text.resize(had + got);
        if (got < piece) break;
        remaining -= got;
    }
    return text;
}

int TWebServerRequest::WriteBytes(const void* buffer, int count) {
    if (count <= 0 || buffer == nullptr) return 0;
    try {
        const char* bytes = static_cast<const char*>(buffer);
        const auto total = static_cast<std::size_t>(count);
        sentText_.append(bytes, total);
        if (connection_ != nullptr && connection_->Connected()) {
            std::size_t sent = 0;
            while (sent < total) {
                const std::size_t n = connection_->SendBuf(bytes + sent, total - sent);
                // A wait that ran out: report what went out rather than all of it.
                if (n == 0) return static_cast<int>(sent);
                sent += n;
            }
        }
        return count;
    } catch (...) {
        return 0;
    }
}

bool TWebServerRequest::WriteText(std::string_view text) {
    const auto count = static_cast<int>(text.size());
    return WriteBytes(text.data(), count) == count;
}

bool TWebServerRequest::WriteStatusAndHeaders(int /*statusCode*/, std::string_view statusText,
                                              std::string_view headers) {
    std::string text;
    text.reserve(11 + statusText.size() + headers.size());
    text.append("HTTP/1.1 ").append(statusText).append("\r\n").append(headers);
    return WriteText(text);
}

std::string TWebServerRequest::GetHeaderValue(std::string_view name) {
    int index = FindVariable(name);
    if (index < 0 && name.starts_with(kHttpPrefix))
        index = FindVariable(name.substr(kHttpPrefix.size()));
    if (index >= 0) return vars_[index];
    for (const std::string& line : extraHeaders_) {
        const std::size_t eq = line.find('=');
        const std::string_view lineName = std::string_view(line).substr(0, eq);
        if (SameText(lineName, name)) {
            return eq == std::string::npos ? std::string() : line.substr(eq + 1);
        }
    }
    return {};
}

}  // namespace zephyrine::server
