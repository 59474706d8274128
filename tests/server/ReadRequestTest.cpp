#include "server/ReadRequest.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "PieceStream.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
using zephyrine::server::testing::TPieceStream;

namespace {

// Records what ReadRequest hands on, in order.
class TRecordingHandler final : public IRequestHandler {
  public:
    void LogRequest(TWebServerRequest&) override { calls += "log "; }
    bool ServeFile(TWebServerRequest&, bool headOnly) override {
        calls += headOnly ? "head " : "serve ";
        return true;
    }
    void SendBadRequest(TWebServerRequest&) override { calls += "bad "; }
    std::string calls;
};

// Everything a read leaves behind, to compare reads of the same bytes.
struct TOutcome {
    std::string calls;
    std::string error;  // an exception that passed out
    TMethodType kind = TMethodType::Any;
    std::vector<std::string> vars;
    std::vector<std::string> extras;
    std::string raw;
    std::string body;
    bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TOutcome& o) {
    os << "calls=[" << o.calls << "] error=[" << o.error << "] kind=" << static_cast<int>(o.kind)
       << " vars=";
    for (std::size_t i = 0; i < o.vars.size(); ++i) {
        if (!o.vars[i].empty()) os << i << ":[" << o.vars[i] << "] ";
    }
    os << "extras=";
    for (const auto& e : o.extras)
        os << "[" << e << "]";
    return os << " raw=" << o.raw.size() << " bytes body=[" << o.body << "]";
}

TOutcome Read(TStream& stream) {
    TOutcome outcome;
    TWebServerRequest request(21887, "localhost", "127.0.0.1");
    TRecordingHandler handler;
    try {
        THTTPParser parser(stream);
        ReadRequest(parser, request, handler);
    } catch (const std::exception& e) {
        outcome.error = e.what();
    }
    outcome.calls = handler.calls;
    outcome.kind = request.MethodType();
    for (int i = 0; i < var::kCount; ++i) {
        if (i != var::kContent) outcome.vars.push_back(request.GetVarText(i));
    }
    outcome.extras = request.ExtraHeaders();
    outcome.raw = request.GetRawRequest();
    if (request.BodyBuffer() != nullptr) {
        outcome.body = request.ReadBodyText(request.GetVarInt(var::kContentLength));
    }
    return outcome;
}

TOutcome Read(std::string_view bytes) {
    TMemoryStream stream(bytes);
    return Read(stream);
}

// Bytes of a literal that holds NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// A read that ends with an exception passing out, and its message.
struct TRaises {
    std::string message;
};

struct TCase {
    TCase(const char* description, std::string bytes, std::string calls,
          std::map<int, std::string> vars, std::vector<std::string> extras = {},
          std::string body = {})
        : description(description),
          bytes(std::move(bytes)),
          calls(std::move(calls)),
          vars(std::move(vars)),
          extras(std::move(extras)),
          body(std::move(body)) {}
    TCase(const char* description, std::string bytes, TRaises raises,
          std::map<int, std::string> vars)
        : TCase(description, std::move(bytes), "", std::move(vars)) {
        error = std::move(raises.message);
    }
    const char* description;
    std::string bytes;
    std::string calls;                // expected handler calls
    std::string error;                // expected message of an exception that passes out
    std::map<int, std::string> vars;  // expected variables (others are not checked)
    std::vector<std::string> extras;  // expected extra headers, when given
    std::string body;                 // expected body
};

const std::string kCurl =
    "GET /temppack11.cab HTTP/1.1\r\nHost: 127.0.0.1:21887\r\nUser-Agent: curl/7.88.1\r\n"
    "Accept: */*\r\n\r\n";
const std::string kBigHeader = [] {
    std::string h = "GET /big HTTP/1.0\r\n";
    for (int i = 0; i < 400; ++i)
        h += "X-Header-" + std::to_string(i) + ": value\r\n";
    return h + "Host: last\r\n\r\n";
}();

const std::vector<TCase> kCases = {
    {"messenger-style GET",
     kCurl,
     "log serve ",
     {{var::kRequestMethod, "GET"},
      {var::kServerProtocol, "HTTP/1.1"},
      {var::kQueryString, ""},
      {var::kPathInfo, "/temppack11.cab"},
      {var::kHost, "127.0.0.1:21887"},
      {var::kUserAgent, "curl/7.88.1"},
      {var::kAccept, "*/*"},
      {var::kContentLength, "0"}},
     {}},
    {"path / alone is empty",
     "GET / HTTP/1.0\r\n\r\n",
     "log serve ",
     {{var::kPathInfo, ""}, {var::kServerProtocol, "HTTP/1.0"}}},
    {"query with plus",
     "GET /a?x+y=1&b=%41 HTTP/1.0\r\n\r\n",
     "log serve ",
     {{var::kPathInfo, "/a"}, {var::kQueryString, "x y=1&b=%41"}}},
    {"blanks around the protocol",
     "GET    /p   HTTP/1.0   \r\n\r\n",
     "log serve ",
     {{var::kPathInfo, "/p"},
      {var::kServerProtocol, "  HTTP/1.0"}}},  // only the right side is trimmed
    {"no protocol ends the header",
     "GET /temppack11.cab\r\nHost: x\r\n\r\n",
     "log serve ",
     {{var::kPathInfo, "/temppack11.cab"}, {var::kServerProtocol, ""}, {var::kHost, ""}},
     {}},
    {"no protocol and nothing after",
     "GET /temppack11.cab\r\n",
     "log serve ",
     {{var::kPathInfo, "/temppack11.cab"}, {var::kServerProtocol, ""}}},
    {"HEAD", "HEAD /f HTTP/1.0\r\n\r\n", "log head ", {{var::kRequestMethod, "HEAD"}}},
    {"POST is served like GET",
     "POST /f HTTP/1.0\r\n\r\n",
     "log serve ",
     {{var::kRequestMethod, "POST"}}},
    {"PUT gets no answer", "PUT /f HTTP/1.0\r\n\r\n", "log ", {{var::kRequestMethod, "PUT"}}},
    {"DELETE is ANY",
     "DELETE /f HTTP/1.0\r\n\r\n",
     "log ",
     {{var::kRequestMethod, "ANY"}, {var::kPathInfo, "/f"}}},
    {"unknown method",
     "FOO /f HTTP/1.0\r\n\r\n",
     "log ",
     {{var::kRequestMethod, ""}, {var::kPathInfo, ""}}},
    {"empty first line", "\r\nGET / HTTP/1.0\r\n\r\n", "log ", {{var::kRequestMethod, ""}}, {}},
    {"nothing at all", "", "log ", {{var::kRequestMethod, ""}}, {}},
    {"keywords in other case",
     "get /x HTTP/1.0\r\nhOsT: h\r\n\r\n",
     "log serve ",
     {{var::kRequestMethod, "GET"}, {var::kHost, "h"}}},
    {"first Host wins",
     "GET / HTTP/1.0\r\nHost: a\r\nHost: b\r\n\r\n",
     "log serve ",
     {{var::kHost, "a"}}},
    {"first of the other single headers wins",
     "GET / HTTP/1.0\r\nUser-Agent: u1\r\nUser-Agent: u2\r\nReferer: r1\r\nReferer: r2\r\n"
     "Content-Type: t1\r\nContent-Type: t2\r\nConnection: Keep-Alive\r\nConnection: close\r\n"
     "Cookie: c1\r\nCookie: c2\r\n\r\n",
     "log serve ",
     {{var::kUserAgent, "u1"},
      {var::kReferer, "r1"},
      {var::kContentType, "t1"},
      {var::kConnection, "Keep-Alive"},
      {var::kCookie, "c1"}}},
    {"Accept lines are joined",
     "GET / HTTP/1.0\r\nAccept: a\r\nAccept: b\r\n\r\n",
     "log serve ",
     {{var::kAccept, "a, b"}}},
    {"value keeps trailing blanks",
     "GET / HTTP/1.0\r\nHost:   h  \r\n\r\n",
     "log serve ",
     {{var::kHost, "h  "}}},
    {"last Content-Length wins",
     "POST / HTTP/1.0\r\nContent-Length: 9\r\nContent-Length: 5\r\n\r\nhelloEXTRA",
     "log serve ",
     {{var::kContentLength, "5"}},
     {},
     "hello"},
    {"Content-Length that is a word",
     "POST / HTTP/1.0\r\nContent-Length: abc\r\n\r\nhello",
     "log serve ",
     {{var::kContentLength, "0"}},
     {},
     ""},
    {"hex Content-Length",
     "POST / HTTP/1.0\r\nContent-Length: $3\r\n\r\nabc",
     "log serve ",
     {{var::kContentLength, "3"}},
     {},
     "abc"},
    {"five body bytes",
     "POST /f HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello",
     "log serve ",
     {{var::kContentLength, "5"}},
     {},
     "hello"},
    {"body with NUL bytes",
     Bytes("POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\na\0b\0c"),
     "log serve ",
     {{var::kContentLength, "5"}},
     {},
     std::string("a\0b\0c", 5)},
    {"body cut short",
     "POST / HTTP/1.0\r\nContent-Length: 50\r\n\r\nshort",
     "log serve ",
     {{var::kContentLength, "50"}},
     {},
     "short"},
    {"longest body allowed",
     "POST / HTTP/1.0\r\nContent-Length: 16777216\r\n\r\nab",
     "log serve ",
     {{var::kContentLength, "16777216"}},
     {},
     "ab"},
    {"body above the bound",
     "POST / HTTP/1.0\r\nContent-Length: 16777217\r\n\r\nab",
     "bad ",
     {{var::kContentLength, "0"}},
     {},
     ""},
    {"body far above the bound",
     "POST / HTTP/1.0\r\nContent-Length: 99999999999999\r\n\r\n",
     "bad ",
     {},
     {},
     ""},
    {"hex body above the bound",
     "POST / HTTP/1.0\r\nContent-Length: $1000001\r\n\r\n",
     "bad ",
     {},
     {},
     ""},
    {"Authorization drops the scheme",
     "GET / HTTP/1.0\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n",
     "log serve ",
     {{var::kAuthorization, "dXNlcjpwdw=="}}},
    {"generic lines go to extra headers",
     "GET / HTTP/1.0\r\nCache-Control: no-cache\r\nX-Thing:  v w \r\nNoColon\r\nFrom: me\r\n\r\n",
     "log serve ",
     {{var::kCacheControl, ""}, {var::kFrom, ""}},
     {"Cache-Control=no-cache", "X-Thing=v w ", "NoColon=", "From=me"}},
    {"a line without colon leaves its rest",
     "GET / HTTP/1.0\r\nFoo bar\r\nHost: h\r\n\r\n",
     "log serve ",
     {{var::kHost, ""}},
     {"Foo="}},
    {"unclosed quote in User-Agent",
     "GET / HTTP/1.0\r\nUser-Agent: 'Mozilla\r\nHost: h\r\n\r\n",
     "bad ",
     {{var::kHost, ""}}},
    {"line too long",
     "GET / HTTP/1.0\r\nX-Long: " + std::string(5000, 'a') + "\r\n\r\n",
     "bad ",
     {}},
    {"NUL inside the header",
     Bytes("GET / HTTP/1.0\r\nHost: a\0b\r\nUser-Agent: u\r\n\r\n"),
     "log serve ",
     {{var::kHost, "a"}, {var::kUserAgent, ""}}},
    {"NUL just after a carriage return",
     Bytes("GET /p\r\0x\r\n\r\n"),
     "log serve ",
     {{var::kPathInfo, "/p"}, {var::kServerProtocol, ""}}},
    {"NUL inside a line longer than the buffer",
     "GET / HTTP/1.0\r\nHost: a" + std::string(1, '\0') + std::string(5000, 'b') + "\r\n\r\n",
     "log serve ",
     {{var::kHost, "a"}}},
    {"header longer than the buffer",
     kBigHeader,
     "log serve ",
     {{var::kHost, "last"}, {var::kPathInfo, "/big"}}},
    {"If-Modified-Since in RFC 1123 form",
     "GET / HTTP/1.0\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\nHost: h\r\n\r\n",
     "log serve ",
     {{var::kIfModifiedSince, "11/06/1994 08:49:37"}, {var::kHost, "h"}},
     {"GMT="}},
    {"If-Modified-Since in RFC 850 form",
     "GET / HTTP/1.0\r\nIf-Modified-Since: Sunday, 06-Nov-94 08:49:37 GMT\r\n\r\n",
     "log serve ",
     {{var::kIfModifiedSince, "11/06/1994 08:49:37"}},
     {"GMT="}},
    {"If-Modified-Since in asctime form",
     "GET / HTTP/1.0\r\nIf-Modified-Since: Sun Nov  6 08:49:37 1994\r\n\r\n",
     "log serve ",
     {{var::kIfModifiedSince, "11/06/1994 08:49:37"}},
     {"1994="}},
    {"If-Modified-Since at midnight",
     "GET / HTTP/1.0\r\nIf-Modified-Since: Tue, 08 Dec 2026 00:00:00 GMT\r\n\r\n",
     "log serve ",
     {{var::kIfModifiedSince, "12/08/2026 00:00:00"}}},
    {"Date header",
     "GET / HTTP/1.0\r\nDate: Mon, 01 Jan 2001 12:30:00 GMT\r\n\r\n",
     "log serve ",
     {{var::kDate, "01/01/2001 12:30:00"}}},
    {"Date without weekday",
     "GET / HTTP/1.0\r\nDate: 06 Nov 1994 08:49:37 GMT\r\n\r\n",
     TRaises{"'GMT' is not a valid integer value"},
     {{var::kDate, ""}}},
    {"Date with an impossible day",
     "GET / HTTP/1.0\r\nDate: Sun, 31 Nov 1994 08:49:37 GMT\r\n\r\n",
     TRaises{"Invalid argument to date encode"},
     {}},
    {"Date with an impossible hour",
     "GET / HTTP/1.0\r\nDate: Sun, 30 Nov 1994 25:49:37 GMT\r\n\r\n",
     TRaises{"Invalid argument to time encode"},
     {}},
    {"Date with an unknown month",
     "GET / HTTP/1.0\r\nDate: Sun, 30 Foo 1994 05:49:37 GMT\r\n\r\n",
     TRaises{"Invalid argument to date encode"},
     {}},
    {"empty Date",
     "GET / HTTP/1.0\r\nDate:\r\n\r\n",
     TRaises{"'\n' is not a valid integer value"},
     {}},
};

void Check(const TCase& c, const TOutcome& o) {
    EXPECT_EQ(o.calls, c.calls) << c.description;
    EXPECT_EQ(o.error, c.error) << c.description;
    for (const auto& [index, text] : c.vars) {
        EXPECT_EQ(o.vars[index > var::kContent ? index - 1 : index], text)
            << c.description << ", variable " << index;
    }
    if (!c.extras.empty()) {
        EXPECT_EQ(o.extras, c.extras) << c.description;
    }
    EXPECT_EQ(o.body, c.body) << c.description;
}

TEST(ReadRequest, RequestTable) {
    for (const TCase& c : kCases)
        Check(c, Read(c.bytes));
}

TEST(ReadRequest, SameResultsHoweverTheBytesArrive) {
    for (const TCase& c : kCases) {
        const TOutcome whole = Read(c.bytes);
        for (std::size_t k = 1; k < c.bytes.size(); ++k) {
            TPieceStream split = TPieceStream::SplitAt(c.bytes, k);
            const TOutcome o = Read(split);
            ASSERT_EQ(o, whole) << c.description << ", split at " << k;
        }
        TPieceStream bytewise = TPieceStream::Bytewise(c.bytes);
        EXPECT_EQ(Read(bytewise), whole) << c.description << ", byte by byte";
    }
}

TEST(ReadRequest, MethodKinds) {
    const struct {
        const char* line;
        TMethodType kind;
    } cases[] = {{"GET / HTTP/1.0", TMethodType::Get},    {"HEAD / HTTP/1.0", TMethodType::Head},
                 {"POST / HTTP/1.0", TMethodType::Post},  {"PUT / HTTP/1.0", TMethodType::Put},
                 {"DELETE / HTTP/1.0", TMethodType::Any}, {"OPTIONS / HTTP/1.0", TMethodType::Any}};
    for (const auto& c : cases) {
        EXPECT_EQ(Read(std::string(c.line) + "\r\n\r\n").kind, c.kind) << c.line;
    }
}

TEST(ReadRequest, RawRequestIsHeaderAndBody) {
    const std::string bytes = "POST /f HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello";
    EXPECT_EQ(Read(bytes).raw, bytes);
    TPieceStream later({"POST /f HTTP/1.0\r\nContent-Length: 5\r\n\r\n", "hel", "lo"});
    EXPECT_EQ(Read(later).raw, bytes);
}

TEST(ReadRequest, IfModifiedSinceReadsBackAsADate) {
    for (const auto& [header, expected] : std::vector<std::pair<std::string, TDateTime>>{
             {"Sun, 06 Nov 1994 08:49:37 GMT", EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37)},
             {"Tue, 08 Dec 2026 00:00:00 GMT", EncodeDate(2026, 12, 8)}}) {
        TMemoryStream stream("GET / HTTP/1.0\r\nIf-Modified-Since: " + header + "\r\n\r\n");
        TWebServerRequest request(21887, "", "");
        TRecordingHandler handler;
        THTTPParser parser(stream);
        ReadRequest(parser, request, handler);
        EXPECT_DOUBLE_EQ(request.GetVarDate(var::kIfModifiedSince), expected) << header;
    }
}

TEST(ReadRequest, HeaderValuesAfterReading) {
    TMemoryStream stream(
        "GET / HTTP/1.0\r\nHost: example:21887\r\nCache-Control: max-age=0\r\n\r\n");
    TWebServerRequest request(21887, "", "");
    TRecordingHandler handler;
    THTTPParser parser(stream);
    ReadRequest(parser, request, handler);
    EXPECT_EQ(request.GetHeaderValue("HTTP_HOST"), "example:21887");
    EXPECT_EQ(request.GetHeaderValue("Host"), "");
    EXPECT_EQ(request.GetHeaderValue("cache-control"), "max-age=0");
}

TEST(ReadRequest, BodyAboveTheBoundIsNotRead) {
    const std::string header = "POST / HTTP/1.0\r\nContent-Length: 16777217\r\n\r\n";
    TPieceStream stream({header, std::string(100000, 'x')});
    TWebServerRequest request(21887, "", "");
    TRecordingHandler handler;
    {
        THTTPParser parser(stream);
        ReadRequest(parser, request, handler);
    }
    EXPECT_EQ(handler.calls, "bad ");
    EXPECT_EQ(stream.Consumed(), header.size());
    EXPECT_EQ(request.BodyBuffer(), nullptr);
}

TEST(ReadRequest, HeaderCompleteInOneReadIsNotWaitedOn) {
    // A request line without protocol has no empty line after it; reading stops with the line.
    TPieceStream stream({"GET /temppack11.cab\r\n", "never read\r\n\r\n"});
    TWebServerRequest request(21887, "", "");
    TRecordingHandler handler;
    THTTPParser parser(stream);
    ReadRequest(parser, request, handler);
    EXPECT_EQ(stream.Reads(), 1);
    EXPECT_EQ(request.GetVarText(var::kPathInfo), "/temppack11.cab");
}

}  // namespace
