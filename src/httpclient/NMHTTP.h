// TNMHTTP: the HTTP/1.0 client. A request uses one connection of its own and runs to its end
// inside the call, following redirects; the reply body goes into a file or a string.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "httpclient/Powersock.h"

namespace zephyrine::base {
class TStream;
}

namespace zephyrine::httpclient {

inline constexpr std::size_t kMaxRequestPath = 256;
inline constexpr std::size_t kMaxHeaderValue = 256;  // Location and Set-Cookie values
// Passes that follow a redirect, at most; one more redirect raises.
inline constexpr int kMaxRedirectPasses = 20;
// A reply header beyond this size raises instead of growing without bound.
inline constexpr std::size_t kMaxReplyHeader = 1 << 20;

// Request kinds, as passed to OnSuccess and OnFailure. Only GET is sent by this client.
enum TCmdType : int {
    CmdGET = 0,
    CmdOPTIONS = 1,
    CmdHEAD = 2,
    CmdPOST = 3,
    CmdPUT = 4,
    CmdPATCH = 5,
    CmdCOPY = 6,
    CmdMOVE = 7,
    CmdDELETE = 8,
    CmdLINK = 9,
    CmdUNLINK = 10,
    CmdTRACE = 11,
    CmdDEFAULT = 12,  // no request line
};

// Optional values of the request header.
struct THeaderInfo {
    std::string LocalMailAddress;
    std::string LocalProgram;
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
};

// Lines of the form "name: value".
class TExStringList {
  public:
    // The first line whose text before its first ":" is name, in any letter case; -1 if none.
    int FindHeader(std::string_view name) const;
    // A non-empty value replaces the line found (or adds one at the end); an empty value
    // deletes the line found.
    void SetHeaderValue(std::string_view name, std::string_view value);

    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_[index]; }
    // Every line followed by CR LF.
    std::string Text() const;

  private:
    std::vector<std::string> lines_;
};

// The reply announced a Content-Length and the connection closed before that many body bytes
// arrived; the bytes received are stored.
class EShortBodyError : public ESockError {
  public:
    using ESockError::ESockError;
};

class TNMHTTP : public TPowersock {
  public:
    TNMHTTP() = default;

    // InputFileMode on: the file that receives the reply body; off: the body itself.
    std::string Body = "Default.htm";
    // OutputFileMode on: the file that receives the reply header; off: the header text, from
    // the moment it is read.
    std::string Header = "Head.txt";
    THeaderInfo HeaderInfo;
    bool InputFileMode = false;
    bool OutputFileMode = false;

    std::function<void()> OnAboutToSend;
    std::function<void(TCmdType cmd)> OnSuccess;
    std::function<void(TCmdType cmd)> OnFailure;    // a reply code above 399
    std::function<void(bool& handled)> OnRedirect;  // handled: Get returns at once
    std::function<void()> OnAuthenticationNeeded;

    // Fetches url; returns once the reply is stored and the connection closed, also for an
    // error status. Raises on every failure, after the connection has been closed. A Get
    // started while one runs (from the pump) raises "Already connected".
    virtual void Get(const std::string& url);
    // Also ends a name lookup under way.
    void Abort() override;

    // The steps of a request, each pass in this order.
    virtual void RunTransaction();
    virtual void ParseUrl();
    virtual void BuildRequest();
    virtual void SendRequest();
    virtual void ReadReplyHeader();

    TCmdType RequestKind() const { return requestKind_; }
    const std::string& Url() const { return url_; }
    void SetUrl(std::string url) { url_ = std::move(url); }
    const std::string& RequestPath() const { return requestPath_; }
    const TExStringList& RequestLines() const { return requestLines_; }
    std::int16_t ReplyCode() const { return replyCode_; }
    const std::string& LocationValue() const { return locationValue_; }
    const std::string& SetCookieValue() const { return setCookieValue_; }
    // The text of the reply header being read or last read, in both header modes.
    const std::string& ReplyHeader() const { return replyHeader_; }
    // Its Content-Length; -1 when it announced none.
    long long ReplyContentLength() const { return replyContentLength_; }

  private:
    void AppendHeaderLine(const std::string& line, base::TStream* file);

    bool busy_ = false;  // a Get is under way
    TCmdType requestKind_ = CmdGET;
    std::string url_;
    std::string requestPath_;
    TExStringList requestLines_;
    std::int16_t replyCode_ = 0;
    std::string locationValue_;
    std::string setCookieValue_;
    std::string replyHeader_;
    long long replyContentLength_ = -1;
    // A cookie taken from a redirect goes back only to the host and port that set it.
    std::string cookieFromHost_;
    int cookieFromPort_ = 0;
    std::string cookieFromRedirect_;
};

}  // namespace zephyrine::httpclient
