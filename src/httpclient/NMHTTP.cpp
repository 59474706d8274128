#include "httpclient/NMHTTP.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>

#include "base/Convert.h"
#include "base/ScopeExit.h"
#include "base/Stream.h"
#include "base/TextCompare.h"

namespace zephyrine::httpclient {

using base::SameText;

namespace {

constexpr const char* kAcceptLine1 =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
constexpr const char* kAcceptLine2 =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
constexpr const char* kContentTypeLine = "Content-type: application/x-www-form-urlencoded";
constexpr std::string_view kSetCookieWord = "SET-COOKIE:";
constexpr std::string_view kLocationWord = "LOCATION:";
constexpr std::size_t kSetCookieValueAt = 12;
constexpr std::size_t kLocationValueAt = 10;

// RFC 2045 Base64, one unbroken line.
std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[group >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

std::string WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

// A header value from the reply, made fit for a later request: control bytes (CR, LF, NUL,
// ...) dropped, cut to its limit.
std::string RequestSafeValue(std::string_view line, std::size_t from) {
    std::string value;
    for (char c : WithoutLineEnd(line.substr(std::min(from, line.size())))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) value += c;
    }
    if (value.size() > kMaxHeaderValue) value.resize(kMaxHeaderValue);
    return value;
}

// The second field of the status line; 0 when it is no number of the code's range.
std::int16_t ReplyCodeOf(const std::string& line) {
    const std::string text = WithoutLineEnd(line);
    const std::size_t first = text.find(' ');
    if (first == std::string::npos) return 0;
    const std::size_t second = text.find(' ', first + 1);
    const std::string field = text.substr(first + 1, second - first - 1);
    const std::optional<int> code = base::TryStrToInt(field);
    if (!code || *code < std::numeric_limits<std::int16_t>::min() ||
        *code > std::numeric_limits<std::int16_t>::max()) {
        return 0;
    }
    return static_cast<std::int16_t>(*code);
}

// The value of a "Content-Length:" line; -1 for another line or a value that is no length.
long long ContentLengthOf(const std::string& line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos ||
        !SameText(std::string_view(line).substr(0, colon), "Content-Length")) {
        return -1;
    }
    std::string_view value = std::string_view(line).substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                              value.back() == '\n')) {
        value.remove_suffix(1);
    }
    const auto length = base::DigitsValue(
        value, 10, static_cast<std::uint64_t>(std::numeric_limits<long long>::max()));
    return length ? static_cast<long long>(*length) : -1;
}

// Index of the count-th "/" of text (count from 1), npos when there are fewer.
std::size_t NthSlash(const std::string& text, int count) {
    std::size_t at = std::string::npos;
    for (int i = 0; i < count; ++i) {
        at = text.find('/', at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos) break;
    }
    return at;
}

}  // namespace

int TExStringList::FindHeader(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view line = lines_[i];
        if (SameText(line.substr(0, line.find(':')), name)) return static_cast<int>(i);
    }
    return -1;
}

void TExStringList::SetHeaderValue(std::string_view name, std::string_view value) {
    const int at = FindHeader(name);
    if (value.empty()) {
        if (at >= 0) lines_.erase(lines_.begin() + at);
        return;
    }
    std::string line = std::string(name) + ": " + std::string(value);
    if (at >= 0) {
        lines_[at] = std::move(line);
    } else {
        lines_.push_back(std::move(line));
    }
}

std::string TExStringList::Text() const {
    std::string text;
    for (const auto& line : lines_)
        text += line + "\r\n";
    return text;
}

void TNMHTTP::Get(const std::string& url) {
    // A request started from the pump of one under way would take over its socket.
    if (busy_) throw ESockError("Already connected");
    busy_ = true;
    const base::ScopeExit idle([this] { busy_ = false; });
    requestKind_ = CmdGET;
    url_ = url;
    RunTransaction();
}

void TNMHTTP::Abort() {
    SetLookupDone();
    Cancel();
}

void TNMHTTP::ParseUrl() {
    if (url_.empty()) throw std::runtime_error("Empty URL");
    if (Port == 0) Port = 80;

    const bool hasSlashes = url_.find("//") != std::string::npos;
    if (hasSlashes) {
        const std::size_t third = NthSlash(url_, 3);
        requestPath_ = third == std::string::npos || third == url_.size() - 1 ? std::string()
                                                                              : url_.substr(third);
    } else if (const std::size_t first = url_.find('/'); first != std::string::npos) {
        requestPath_ = url_.substr(first);
    } else {
        requestPath_.clear();
    }
    if (requestPath_.size() > kMaxRequestPath) requestPath_.resize(kMaxRequestPath);

    if (const std::size_t colon = url_.find(':'); colon != std::string::npos) {
        const std::string scheme = base::LowerCase(url_.substr(0, colon));
        if (scheme == "gopher") {
            Port = 70;
        } else if (scheme == "ftp") {
            Port = 21;
        } else if (scheme == "https") {
            throw std::runtime_error("HTTP Secure Socket is not supported");
        } else {
            Port = 80;
        }
    }

    std::string hostPart;
    if (hasSlashes) {
        const std::size_t second = NthSlash(url_, 2);
        const std::size_t third = NthSlash(url_, 3);
        hostPart = url_.substr(second + 1, third == std::string::npos ? third : third - second - 1);
    } else if (url_.front() != '/') {
        hostPart = url_.substr(0, url_.find('/'));
    }
    if (const std::size_t colon = hostPart.find(':'); colon != std::string::npos) {
        const std::size_t end = hostPart.find(':', colon + 1);
        Port = base::StrToInt(
            hostPart.substr(colon + 1, end == std::string::npos ? end : end - colon - 1));
        hostPart.resize(colon);
    }
    if (!hostPart.empty()) Host = hostPart;

    if (requestPath_.empty()) {
        requestPath_ = "/";
        url_ += "/";
    }
}

void TNMHTTP::BuildRequest() {
    requestLines_.Clear();
    requestLines_.Add("GET " + (Proxy.empty() ? requestPath_ : url_) + " HTTP/1.0");
    if (!Proxy.empty()) {
        requestLines_.Add("Proxy-Connection: Keep-Alive");
        requestLines_.Add("Host: " + Host);
    }
    requestLines_.SetHeaderValue("Host", Host);
    requestLines_.Add(kAcceptLine1);
    requestLines_.Add(kAcceptLine2);
    const auto add = [&](std::string_view name, const std::string& value) {
        if (!value.empty()) requestLines_.SetHeaderValue(name, value);
    };
    add("User-Agent", HeaderInfo.LocalProgram);
    add("From", HeaderInfo.LocalMailAddress);
    const bool foreignCookie = !cookieFromRedirect_.empty() &&
                               HeaderInfo.Cookie == cookieFromRedirect_ &&
                               !(SameText(Host, cookieFromHost_) && Port == cookieFromPort_);
    if (!foreignCookie) add("Cookie", HeaderInfo.Cookie);
    add("Referer", HeaderInfo.Referer);
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        add("Authorization", "Basic " + Base64(HeaderInfo.UserId + ":" + HeaderInfo.Password));
    }
    requestLines_.Add(kContentTypeLine);
}

void TNMHTTP::SendRequest() {
    Write(requestLines_.Text());
    Writeln("");
}

void TNMHTTP::AppendHeaderLine(const std::string& line, base::TStream* file) {
    if (replyHeader_.size() + line.size() > kMaxReplyHeader) {
        throw ESockError("Reply header too large");
    }
    replyHeader_ += line;
    if (file != nullptr) {
        file->WriteString(line);
    } else {
        Header += line;
    }
}

void TNMHTTP::ReadReplyHeader() {
    setCookieValue_.clear();
    replyHeader_.clear();
    replyContentLength_ = -1;
    std::unique_ptr<base::TFileStream> file;
    if (OutputFileMode) {
        file = std::make_unique<base::TFileStream>(Header, base::TFileStream::TMode::Create);
    } else {
        Header.clear();
    }

    std::string line = ReadLn();
    if (!line.empty()) replyCode_ = ReplyCodeOf(line);
    AppendHeaderLine(line, file.get());
    do {
        line = ReadLn();
        AppendHeaderLine(line, file.get());
        const std::string_view word = std::string_view(line).substr(0, line.find(' '));
        if (SameText(word, kSetCookieWord)) {
            setCookieValue_ = RequestSafeValue(line, kSetCookieValueAt);
        } else if (SameText(word, kLocationWord)) {
            locationValue_ = RequestSafeValue(line, kLocationValueAt);
        } else if (replyContentLength_ < 0) {
            replyContentLength_ = ContentLengthOf(line);
        }
    } while (!(line.empty() || line == "\n" || line == "\r\n"));
}

void TNMHTTP::RunTransaction() {
    for (int pass = 0;; ++pass) {
        if (pass > kMaxRedirectPasses) {
            throw std::runtime_error("Redirected more than " + std::to_string(kMaxRedirectPasses) +
                                     " times");
        }
        ParseUrl();
        BuildRequest();
        if (OnAboutToSend) OnAboutToSend();
        try {
            Connect();
            SendRequest();
            replyCode_ = 0;
            ReadReplyHeader();
            if (InputFileMode) {
                CaptureFile(Body);
            } else {
                CaptureString(Body, -1);
            }
            if (replyContentLength_ >= 0 && BytesReceived() < replyContentLength_) {
                throw EShortBodyError("Reply body incomplete: " + std::to_string(BytesReceived()) +
                                      " of " + std::to_string(replyContentLength_) +
                                      " bytes received");
            }
            if (replyCode_ < 299) {
                if (OnSuccess) OnSuccess(requestKind_);
                ReportStatus(kLevelCompleted, "Transaction Completed");
            } else if (replyCode_ > 399) {
                if (OnFailure) OnFailure(requestKind_);
            } else if (replyCode_ >= 300 && replyCode_ <= 302) {
                url_ = locationValue_;
            }
        } catch (...) {
            try {
                Disconnect();
            } catch (const std::exception&) {  // the first failure is the one reported
            }
            throw;
        }
        Disconnect();

        if (replyCode_ >= 300 && replyCode_ <= 398) {
            if (!setCookieValue_.empty()) {
                HeaderInfo.Cookie = setCookieValue_;
                cookieFromRedirect_ = setCookieValue_;
                cookieFromHost_ = Host;
                cookieFromPort_ = Port;
            }
            bool handled = false;
            if (OnRedirect) OnRedirect(handled);
            if (handled) return;
            // An empty Url stays empty, so that the next pass fails with "Empty URL".
            if (!url_.empty() && url_.find('/') == std::string::npos) {
                url_ = "http://" + Host + "/" + url_;
            }
        }
        if (replyCode_ == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded();
        // Only 300 to 302 bring a new URL; for 299 and 303 to 399 the same request is not
        // sent again.
        if (replyCode_ < 300 || replyCode_ > 302) return;
    }
}

}  // namespace zephyrine::httpclient
