#include "server/ReqImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "SocketPairConnection.h"
#include "server/WebServerRequest.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
using zephyrine::server::testing::TSocketPairConnection;

namespace {

TByteArray B(std::string_view text) {
    return TByteArray(text.begin(), text.end());
}

class WebRequestImpl : public ::testing::Test {
  protected:
    WebRequestImpl()
        : request(21887, "host", "127.0.0.1", &connection), adapter(request, true, nullptr) {
        auto buffer = std::make_unique<TMemoryStream>("HEAD\r\n\r\nbody!");
        buffer->SetPosition(8);
        request.SetVarInt(var::kContentLength, 5);
        request.SetBody(std::move(buffer), "bo");
        request.SetVarText(var::kHost, "example");
        request.AddExtraHeader("X-Name", "caf\xc3\xa9");
    }
    TSocketPairConnection connection;
    TWebServerRequest request;
    TWebRequestImpl adapter;
};

TEST_F(WebRequestImpl, ReadsHeaderValuesAndVariables) {
    std::wstring value;
    EXPECT_EQ(adapter.HeaderValue(L"HTTP_HOST", value), kS_OK);
    EXPECT_EQ(value, L"example");
    EXPECT_EQ(adapter.HeaderValue(L"x-name", value), kS_OK);
    EXPECT_EQ(value, L"caf\u00e9");

    TVariant v;
    EXPECT_EQ(adapter.Variable(var::kHost, v), kS_OK);
    EXPECT_EQ(std::get<TByteArray>(v), B("example"));
    EXPECT_EQ(adapter.Variable(var::kReferer, v), kS_OK);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(v));
    EXPECT_EQ(adapter.Variable(var::kContent, v), kS_OK);
    EXPECT_EQ(std::get<TByteArray>(v), B("body!"));

    std::wstring mapped;
    EXPECT_EQ(adapter.MapUri(L"/a/b", mapped), kS_OK);
    EXPECT_EQ(mapped, L"/a/b");
    bool stub = false;
    EXPECT_EQ(adapter.IsStub(stub), kS_OK);
    EXPECT_TRUE(stub);
}

TEST_F(WebRequestImpl, ReadsTheBodyOnce) {
    TByteArray buffer;
    int read = -1;
    EXPECT_EQ(adapter.ReadInto(3, buffer, read), kS_OK);
    EXPECT_EQ(read, 3);
    EXPECT_EQ(buffer, B("bod"));
    TVariant rest;
    EXPECT_EQ(adapter.ReadText(10, rest), kS_OK);
    EXPECT_EQ(std::get<TByteArray>(rest), B("y!"));
    EXPECT_EQ(adapter.ReadText(10, rest), kS_OK);
    EXPECT_EQ(std::get<TByteArray>(rest), B(""));
}

TEST_F(WebRequestImpl, WritesTextBytesAndStatus) {
    int written = 0;
    bool ok = false;
    EXPECT_EQ(adapter.WriteStatusAndHeaders(200, B("200 OK"), B("A: b\r\n\r\n"), ok), kS_OK);
    EXPECT_TRUE(ok);
    EXPECT_EQ(adapter.Write(TVariant(std::wstring(L"h\u00e9")), written), kS_OK);
    EXPECT_EQ(written, 3);
    EXPECT_EQ(adapter.Write(TVariant(B("!")), written), kS_OK);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(connection.PeerReceiveAll(), "HTTP/1.1 200 OK\r\nA: b\r\n\r\nh\xc3\xa9!");
}

TEST_F(WebRequestImpl, FailuresBecomeUnexpectedAndTheAdapterStaysUsable) {
    int written = 7;
    EXPECT_EQ(adapter.Write(TVariant(std::int32_t{5}), written), kE_UNEXPECTED);
    EXPECT_EQ(adapter.Write(TVariant(1.5), written), kE_UNEXPECTED);
    EXPECT_EQ(adapter.Write(TVariant(), written), kE_UNEXPECTED);
    EXPECT_EQ(written, 7);
    TVariant v;
    EXPECT_EQ(adapter.Variable(29, v), kE_UNEXPECTED);
    EXPECT_EQ(adapter.Variable(-1, v), kE_UNEXPECTED);
    TByteArray buffer;
    int read = 0;
    EXPECT_EQ(adapter.ReadInto(-1, buffer, read), kE_UNEXPECTED);
    request.SetVarText(var::kContentLength, "five");
    EXPECT_EQ(adapter.Variable(var::kContent, v), kE_UNEXPECTED);  // the length does not convert
    EXPECT_EQ(kE_UNEXPECTED, static_cast<HRESULT>(0x8000FFFFu));

    EXPECT_EQ(adapter.Variable(var::kHost, v), kS_OK);
    EXPECT_EQ(std::get<TByteArray>(v), B("example"));
}

TEST(WideText, ConvertsBothWaysAndReplacesBadSequences) {
    EXPECT_EQ(Utf8ToWide("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), L"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(WideToUtf8(L"a\u00e9\u20ac\U0001F600"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    const struct {
        const char* description;
        std::string bytes;
        std::wstring expected;
    } bad[] = {
        {"lone continuation byte", "a\x80z", L"a\uFFFDz"},
        {"cut sequence at the end", "a\xe2\x82", L"a\uFFFD\uFFFD"},
        {"overlong form", "\xc0\xaf", L"\uFFFD\uFFFD"},
        {"surrogate", "\xed\xa0\x80", L"\uFFFD\uFFFD\uFFFD"},
        {"above the last code point", "\xf4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead byte", "\xff", L"\uFFFD"},
    };
    for (const auto& c : bad)
        EXPECT_EQ(Utf8ToWide(c.bytes), c.expected) << c.description;
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
}

}  // namespace
