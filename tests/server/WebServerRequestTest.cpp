#include "server/WebServerRequest.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "server/HTTPParse.h"
#include "SocketPairConnection.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
using zephyrine::server::testing::TSocketPairConnection;

namespace {

// A request whose header was "HEADER\r\n\r\n" and whose body is given; pending bytes are the
// first of them that came with the header.
std::unique_ptr<TWebServerRequest> WithBody(const std::string& body, std::size_t pending) {
    auto request = std::make_unique<TWebServerRequest>(21887, "host", "127.0.0.1");
    auto buffer = std::make_unique<TMemoryStream>("HEADER\r\n\r\n" + body);
    buffer->SetPosition(10);
    request->SetVarInt(var::kContentLength, static_cast<int>(body.size()));
    request->SetBody(std::move(buffer), body.substr(0, pending));
    return request;
}

TEST(WebServerRequest, CreationFillsPortPeerAndLength) {
    TWebServerRequest request(21887, "peer.example", "10.1.2.3");
    EXPECT_EQ(request.MethodType(), TMethodType::Any);
    EXPECT_EQ(request.GetVarText(var::kContentLength), "0");
    EXPECT_EQ(request.GetVarText(var::kServerPort), "21887");
    EXPECT_EQ(request.GetVarText(var::kRemoteAddr), "10.1.2.3");
    EXPECT_EQ(request.GetVarText(var::kRemoteHost), "peer.example");
    EXPECT_EQ(request.GetVarText(var::kRequestMethod), "");
    EXPECT_TRUE(request.ExtraHeaders().empty());
    EXPECT_EQ(request.GetRawRequest(), "");
}

TEST(WebServerRequest, MethodKindFollowsVariableZero) {
    TWebServerRequest request(80, "", "");
    const struct {
        const char* method;
        TMethodType kind;
    } steps[] = {{"get", TMethodType::Get},   {"POST", TMethodType::Post},
                 {"ANY", TMethodType::Post},  // other texts leave the kind
                 {"Head", TMethodType::Head}, {"PUT", TMethodType::Put},
                 {"DELETE", TMethodType::Put}};
    for (const auto& s : steps) {
        request.SetVarText(var::kRequestMethod, s.method);
        EXPECT_EQ(request.MethodType(), s.kind) << s.method;
    }
    request.SetVarText(var::kHost, "GET");
    EXPECT_EQ(request.MethodType(), TMethodType::Put);
}

TEST(WebServerRequest, IndexPastTheLastIsRefused) {
    TWebServerRequest request(80, "", "");
    EXPECT_NO_THROW(request.GetVarText(var::kAuthorization));
    try {
        request.GetVarText(var::kCount);
        ADD_FAILURE() << "index past the last read";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Index out of bounds");
    }
    EXPECT_THROW(request.SetVarText(var::kCount, "x"), std::out_of_range);
}

TEST(WebServerRequest, IntegerAndDateVariables) {
    TWebServerRequest request(80, "", "");
    EXPECT_EQ(request.GetVarInt(var::kHost), -1);
    request.SetVarInt(var::kHost, -42);
    EXPECT_EQ(request.GetVarText(var::kHost), "-42");
    EXPECT_EQ(request.GetVarInt(var::kHost), -42);
    request.SetVarText(var::kHost, "x1");
    EXPECT_THROW(request.GetVarInt(var::kHost), EConvertError);

    EXPECT_EQ(request.GetVarDate(var::kDate), -1.0);
    const TDateTime when = EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37);
    request.SetVarDate(var::kDate, when);
    EXPECT_EQ(request.GetVarText(var::kDate), "11/06/1994 08:49:37");
    EXPECT_NEAR(request.GetVarDate(var::kDate), when, 1e-9);

    // Midnight is stored with its time part and reads back.
    request.SetVarDate(var::kIfModifiedSince, EncodeDate(2026, 12, 8));
    EXPECT_EQ(request.GetVarText(var::kIfModifiedSince), "12/08/2026 00:00:00");
    EXPECT_EQ(request.GetVarDate(var::kIfModifiedSince), EncodeDate(2026, 12, 8));
    // A text without its time part still raises.
    request.SetVarText(var::kIfModifiedSince, "12/08/2026");
    EXPECT_THROW(request.GetVarDate(var::kIfModifiedSince), EConvertError);
}

TEST(WebServerRequest, HeaderValueLooksAtVariablesThenExtraHeaders) {
    TWebServerRequest request(80, "", "");
    request.SetVarText(var::kHost, "127.0.0.1:21887");
    request.SetVarText(var::kRequestMethod, "GET");
    request.SetVarText(var::kContent, "body");
    request.AddExtraHeader("Cache-Control", "no-cache");
    request.AddExtraHeader("X-Empty", "");
    request.AddExtraHeader("cache-control", "second");
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"HTTP_HOST", "127.0.0.1:21887"},
        {"http_host", "127.0.0.1:21887"},
        {"Host", ""},  // the Host line went to a variable
        {"HTTP_REQUEST_METHOD", "GET"},
        {"http_REQUEST_METHOD", ""},  // the prefix is matched in its exact case
        {"Cache-Control", "no-cache"},
        {"CACHE-CONTROL", "no-cache"},
        {"X-Empty", ""},
        {"", "body"},  // variable 25 has the empty name
        {"HTTP_", "body"},
        {"Missing", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(request.GetHeaderValue(c.name), c.expected) << c.name;
    EXPECT_EQ(request.ExtraHeaders().front(), "Cache-Control=no-cache");
}

TEST(WebServerRequest, BodyBytesAreHandedOutOnceInOrder) {
    const std::string body = "0123456789";
    for (std::size_t pending = 0; pending <= body.size(); ++pending) {
        for (int step = 1; step <= 4; ++step) {
            auto request = WithBody(body, pending);
            std::string got;
            char chunk[8];
            for (int n; (n = request->ReadBody(chunk, step)) > 0;)
                got.append(chunk, n);
            EXPECT_EQ(got, body) << "pending " << pending << ", step " << step;
        }
    }
    auto request = WithBody(std::string("a\0b", 3), 2);
    EXPECT_EQ(request->ReadBodyText(0), "");
    EXPECT_EQ(request->ReadBodyText(-5), "");
    EXPECT_EQ(request->ReadBodyText(100), std::string("a\0b", 3));
    EXPECT_EQ(request->ReadBodyText(100), "");
}

TEST(WebServerRequest, ContentVariableReadsTheBodyOnFirstDemand) {
    auto request = WithBody("x=1&y=2", 3);
    EXPECT_EQ(request->GetHeaderValue(""), "");  // not read from the body here
    EXPECT_EQ(request->GetVarText(var::kContent), "x=1&y=2");
    EXPECT_EQ(request->GetVarText(var::kContent), "x=1&y=2");
    EXPECT_EQ(request->ReadBodyText(10), "");
}

TEST(WebServerRequest, RawRequestIsTheWholeBufferAndKeepsItsPosition) {
    auto request = WithBody("hello", 2);
    EXPECT_EQ(request->GetRawRequest(), "HEADER\r\n\r\nhello");
    EXPECT_EQ(request->BodyBuffer()->Position(), 10);
    EXPECT_EQ(request->ReadBodyText(5), "hello");
    EXPECT_EQ(request->GetRawRequest(), "HEADER\r\n\r\nhello");
}

TEST(WebServerRequest, WithoutBodyBufferTheBodyComesFromTheConnection) {
    TSocketPairConnection connection;
    TWebServerRequest request(80, "", "", &connection);
    connection.PeerSend("abc");
    connection.PeerSend("def");
    connection.ClosePeer();
    EXPECT_EQ(request.ReadBodyText(6), "abcdef");
    EXPECT_EQ(request.ReadBodyText(6), "");
}

TEST(WebServerRequest, WritesGoToTheConnectionAndToSentText) {
    TSocketPairConnection connection;
    TWebServerRequest request(80, "", "", &connection);
    EXPECT_TRUE(request.WriteStatusAndHeaders(404, "404 Not Found", "Content-Length: 0\r\n\r\n"));
    EXPECT_EQ(request.WriteBytes("\0x", 2), 2);
    EXPECT_TRUE(request.WriteText(""));
    const std::string expected =
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" + std::string("\0x", 2);
    EXPECT_EQ(request.SentText(), expected);
    EXPECT_EQ(connection.PeerReceiveAll(), expected);
    request.ClearSentText();
    EXPECT_EQ(request.SentText(), "");
}

TEST(WebServerRequest, WritesNeverRaise) {
    TSocketPairConnection connection;
    TWebServerRequest request(80, "", "", &connection);
    connection.ClosePeer();
    // The peer is gone: the send fails, the connection closes, the result is 0.
    EXPECT_EQ(request.WriteBytes("abc", 3), 0);
    EXPECT_FALSE(connection.Connected());
    // Closed already: nothing is sent, yet the bytes count as written.
    EXPECT_EQ(request.WriteBytes("de", 2), 2);
    EXPECT_TRUE(request.WriteText("fg"));
    EXPECT_EQ(request.SentText(), "abcdefg");

    TWebServerRequest unconnected(80, "", "");
    EXPECT_EQ(unconnected.WriteBytes("x", 1), 1);
    EXPECT_EQ(unconnected.WriteBytes(nullptr, 0), 0);
}

}  // namespace
