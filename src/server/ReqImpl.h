// TWebRequestImpl: the adapter through which a hosted web application reads the request and
// writes its answer. Every operation returns a result code; an exception becomes E_UNEXPECTED.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zephyrine::server {

class TWebServerRequest;
class TWebServerResponse;

using HRESULT = std::int32_t;
constexpr HRESULT kS_OK = 0;
constexpr HRESULT kE_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);

using TByteArray = std::vector<std::uint8_t>;
// The values that cross the adapter: nothing, wide text, bytes, or another kind.
using TVariant = std::variant<std::monostate, std::wstring, TByteArray, std::int32_t, double>;

// The interface a hosted application is given.
class IWebRequest {
  public:
    virtual ~IWebRequest() = default;
    virtual HRESULT HeaderValue(const std::wstring& name, std::wstring& value) = 0;
    // Reads up to count body bytes into buffer (sized 0 to count-1 first).
    virtual HRESULT ReadInto(int count, TByteArray& buffer, int& bytesRead) = 0;
    virtual HRESULT MapUri(const std::wstring& uri, std::wstring& mapped) = 0;
    // Wide text (converted to UTF-8) or bytes; any other kind fails.
    virtual HRESULT Write(const TVariant& data, int& written) = 0;
    // The variable's text as bytes, or an empty value for an empty text.
    virtual HRESULT Variable(int index, TVariant& value) = 0;
    virtual HRESULT WriteStatusAndHeaders(int statusCode, const TByteArray& statusText,
                                          const TByteArray& headers, bool& result) = 0;
    virtual HRESULT IsStub(bool& stub) = 0;
    virtual HRESULT ReadText(int count, TVariant& text) = 0;
};

class TWebRequestImpl final : public IWebRequest {
  public:
    // Neither the request nor the response is owned.
    TWebRequestImpl(TWebServerRequest& request, bool stub, TWebServerResponse* response);

    HRESULT HeaderValue(const std::wstring& name, std::wstring& value) override;
    HRESULT ReadInto(int count, TByteArray& buffer, int& bytesRead) override;
    HRESULT MapUri(const std::wstring& uri, std::wstring& mapped) override;
    HRESULT Write(const TVariant& data, int& written) override;
    HRESULT Variable(int index, TVariant& value) override;
    HRESULT WriteStatusAndHeaders(int statusCode, const TByteArray& statusText,
                                  const TByteArray& headers, bool& result) override;
    HRESULT IsStub(bool& stub) override;
    HRESULT ReadText(int count, TVariant& text) override;

    TWebServerResponse* Response() const { return response_; }

  private:
    TWebServerRequest& request_;
    bool stub_;
    TWebServerResponse* response_;
};

// UTF-8 and wide text (one code point per wchar_t); invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace zephyrine::server
