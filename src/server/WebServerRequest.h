// TWebServerRequest: one parsed HTTP request with its variables, extra headers and buffered body,
// and the writer of the answer's bytes. EWebServerException: an error concerning a request.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/DateText.h"
#include "base/Stream.h"

namespace zephyrine::server {

class IServerConnection;
class TWebServerRequest;

class EWebServerException : public std::runtime_error {
  public:
    EWebServerException(const std::string& message, TWebServerRequest* request)
        : std::runtime_error(message), request_(request) {}
    TWebServerRequest* Request() const { return request_; }

  private:
    TWebServerRequest* request_;  // not owned
};

enum class TMethodType { Any = 0, Get = 1, Put = 2, Post = 3, Head = 4 };

// Indices of the request variables.
namespace var {
enum TIndex : int {
    kRequestMethod = 0,
    kServerProtocol = 1,
    kURL = 2,
    kQueryString = 3,
    kPathInfo = 4,
    kPathTranslated = 5,
    kCacheControl = 6,
    kDate = 7,
    kAccept = 8,
    kFrom = 9,
    kHost = 10,
    kIfModifiedSince = 11,
    kReferer = 12,
    kUserAgent = 13,
    kContentEncoding = 14,
    kContentType = 15,
    kContentLength = 16,
    kContentVersion = 17,
    kDerivedFrom = 18,
    kExpires = 19,
    kTitle = 20,
    kRemoteAddr = 21,
    kRemoteHost = 22,
    kScriptName = 23,
    kServerPort = 24,
    kContent = 25,  // the body as text
    kConnection = 26,
    kCookie = 27,
    kAuthorization = 28,
    kCount = 29,
};
}  // namespace var

class TWebServerRequest {
  public:
    // The connection may be given later with SetConnection; it is not owned.
    TWebServerRequest(int port, std::string_view remoteHost, std::string_view remoteAddress,
                      IServerConnection* connection = nullptr);
    TWebServerRequest(const TWebServerRequest&) = delete;
    TWebServerRequest& operator=(const TWebServerRequest&) = delete;
    virtual ~TWebServerRequest();

    // The name GetHeaderValue matches for a variable index (index 25 has none).
    static std::string_view VariableName(int index);

    TMethodType MethodType() const { return methodType_; }
    IServerConnection* Connection() const { return connection_; }
    void SetConnection(IServerConnection* connection) { connection_ = connection; }

    void SetVarText(int index, std::string_view text);
    void SetVarText(int index, std::string&& text);
    void SetVarText(int index, const char* text) { SetVarText(index, std::string_view(text)); }
    // The stored text, without reading the body for index 25.
    const std::string& StoredVar(int index) const;
    void SetVarInt(int index, int value);
    void SetVarDate(int index, TDateTime value);
    void AddExtraHeader(std::string_view name, std::string_view value);
    // Lines "name=value", one per header line without a variable of its own.
    const std::vector<std::string>& ExtraHeaders() const { return extraHeaders_; }

    // Takes the buffered request (header bytes then body, positioned at the body) and the body
    // bytes that were held after the header; ReadRequest calls it when the header has ended.
    void SetBody(std::unique_ptr<base::TMemoryStream> bodyBuffer, std::string pendingText);
    base::TMemoryStream* BodyBuffer() const { return bodyBuffer_.get(); }
    const std::string& PendingText() const { return pendingText_; }
    // The whole BodyBuffer as text, read once.
    const std::string& GetRawRequest();

    // Every byte written through WriteBytes since the last ClearSentText.
    const std::string& SentText() const { return sentText_; }
    void ClearSentText() { sentText_.clear(); }

    // Index above 28: std::out_of_range "Index out of bounds".
    virtual std::string GetVarText(int index);
    // -1.0 for an empty text.
    virtual TDateTime GetVarDate(int index);
    // -1 for an empty text; other text that is not an integer throws EConvertError.
    virtual int GetVarInt(int index);
    virtual std::string GetPathText() { return GetVarText(var::kPathInfo); }
    virtual std::string GetScriptText() { return GetVarText(var::kScriptName); }
    // Hands out the body in order, each byte once: the pending bytes, then BodyBuffer, or the
    // connection before there is a BodyBuffer.
    virtual int ReadBody(void* buffer, int count);
    virtual std::string ReadBodyText(int count);
    virtual std::string MapURI(std::string_view uri) { return std::string(uri); }
    // Never throws: 0 when sending failed, count otherwise (also on a closed connection).
    virtual int WriteBytes(const void* buffer, int count);
    virtual bool WriteText(std::string_view text);
    // "HTTP/1.1 <statusText>\r\n<headers>"; the code is not used.
    virtual bool WriteStatusAndHeaders(int statusCode, std::string_view statusText,
                                       std::string_view headers);
    virtual std::string GetHeaderValue(std::string_view name);

  private:
    void MethodChanged();

    TMethodType methodType_ = TMethodType::Any;
    IServerConnection* connection_;
    std::array<std::string, var::kCount> vars_;
    std::vector<std::string> extraHeaders_;
    std::unique_ptr<base::TMemoryStream> bodyBuffer_;
    std::optional<std::string> rawRequest_;
    std::string pendingText_;
    std::size_t pendingOffset_ = 0;
    bool pendingSkipped_ = false;  // BodyBuffer moved past the bytes PendingText hands out
    std::string sentText_;
};

}  // namespace zephyrine::server
