// TWebServerResponse: one answer of the server, its status line and header block in a fixed
// order, the HTTP date, the redirect, and the hand-over of what was sent to the log.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/DateText.h"
#include "base/Stream.h"

namespace zephyrine::server {

class TWebServerRequest;
class TServerClientWinSocket;
class TCustomServerLog;

inline constexpr const char* kServerText = "Tessel Test Server/1.0";
inline constexpr int kResponseTextVars = 12;
inline constexpr int kLocationVar = 6;
inline constexpr int kResponseDateVars = 3;

// The reason phrase of a code that SetStatus knows, or nullptr.
const char* ReasonPhrase(int code);
// "ddd, dd mmm yyyy hh:mm:ss GMT" with English names.
std::string HTTPDate(TDateTime value);
// Local time to GMT by the zone's standard offset; daylight saving is not applied.
TDateTime ToGMT(TDateTime localTime);
// Every control byte (below 32, and 127) replaced by a space, so that text taken from a request
// can never end a status or header line.
std::string HeaderSafe(std::string_view text);

class TCookieCollection {};

class TWebServerResponse {
  public:
    // The connection receives body streams; the log receives the sent text on destruction.
    // Either may be null.
    TWebServerResponse(TWebServerRequest& request, TServerClientWinSocket* connection,
                       TCustomServerLog* log);
    TWebServerResponse(const TWebServerResponse&) = delete;
    TWebServerResponse& operator=(const TWebServerResponse&) = delete;
    virtual ~TWebServerResponse();

    virtual std::string GetVarText(int index) const;
    virtual void SetVarText(int index, std::string_view text);
    virtual TDateTime GetVarDate(int index) const;
    virtual void SetVarDate(int index, TDateTime value);
    virtual int GetVarInt(int index) const;
    virtual void SetVarInt(int index, int value);
    virtual std::string GetBodyText() const { return BodyText; }
    virtual void SetBodyText(std::string_view text);
    virtual void SetBodyStream(std::unique_ptr<base::TStream> stream);
    virtual int GetStatus() const { return StatusCode; }
    virtual void SetStatus(int code);
    virtual std::string GetLogNote() const { return {}; }
    virtual void SetLogNote(std::string_view) {}
    virtual void Transmit();
    virtual void TransmitRedirect(std::string_view uri);
    virtual bool TransmitStream(std::unique_ptr<base::TStream>& stream);
    virtual bool WasTransmitted() const { return Transmitted; }

    // Control bytes are replaced (HeaderSafe).
    void SetReasonPhrase(std::string_view text) { ReasonPhraseText = HeaderSafe(text); }
    // The status text Transmit writes: "<code> <reason>", or "200 OK".
    std::string StatusText() const;
    // The header block Transmit writes after the status line, body text included.
    std::string HeaderBlock() const;
    bool HasBodyStream() const { return bodyStream_ != nullptr; }

    TWebServerRequest& Request() { return request_; }

    TDateTime Date;
    int StatusCode = 200;
    std::string ReasonPhraseText = "OK";
    std::string Server = kServerText;
    std::string WWWAuthenticate, Realm, Allow, ContentEncoding;
    std::string ContentType;
    std::int64_t ContentLength = 0;  // 64 bits: a file over 2 GiB announces its real size
    std::string ContentVersion, DerivedFrom;
    TDateTime Expires = -1.0;
    TDateTime LastModified = -1.0;
    std::string Title;
    std::string BodyText;
    bool Transmitted = false;
    TCookieCollection Cookies;
    std::vector<std::string> CustomHeaders;  // never written

  private:
    TWebServerRequest& request_;
    TServerClientWinSocket* connection_;
    TCustomServerLog* log_;
    std::unique_ptr<base::TStream> bodyStream_;
    std::array<std::string, kResponseTextVars> textVars_;
    int intVar_ = 0;
    std::array<TDateTime, kResponseDateVars> dateVars_{-1.0, -1.0, -1.0};
};

}  // namespace zephyrine::server
