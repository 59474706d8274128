#include "server/WebServerResponse.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "HttpText.h"
#include "server/SvrLog.h"
#include "server/WebServerRequest.h"
#include "server/WinSocket.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
using zephyrine::server::testing::MaskDates;

namespace {

struct VersionedRequest : TWebServerRequest {
    explicit VersionedRequest(const char* version = "HTTP/1.1")
        : TWebServerRequest(21887, "", "127.0.0.1") {
        SetVarText(var::kRequestMethod, "GET");
        SetVarText(var::kServerProtocol, version);
    }
};

// What a response wrote, as the log received it.
std::string Logged(TCustomServerLog& log) {
    auto entry = log.TakeNext();
    return entry ? entry->GetDetailText() : "<no entry>";
}

}  // namespace

TEST(WebServerResponse, StatusAndReasonPhrase) {
    struct Case {
        int code;
        const char* line;
    } cases[] = {
        {404, "HTTP/1.1 404 Not Found\r\n"},         {299, "HTTP/1.1 299 OK\r\n"},
        {100, "HTTP/1.1 100 Continue\r\n"},          {406, "HTTP/1.1 406 None Acceptable\r\n"},
        {412, "HTTP/1.1 412 Unless True\r\n"},       {504, "HTTP/1.1 504 Gateway Timeout\r\n"},
        {302, "HTTP/1.1 302 Moved Temporarily\r\n"},
    };
    for (const auto& c : cases) {
        TCustomServerLog log({});
        VersionedRequest request;
        {
            TWebServerResponse response(request, nullptr, &log);
            response.SetStatus(c.code);
            response.Transmit();
        }
        EXPECT_EQ(Logged(log).substr(0, std::string(c.line).size()), c.line) << c.code;
    }
    int known = 0;
    for (int code = 0; code < 600; ++code)
        known += ReasonPhrase(code) != nullptr;
    EXPECT_EQ(known, 33);

    VersionedRequest request;
    TWebServerResponse response(request, nullptr, nullptr);
    response.SetReasonPhrase("Custom");
    response.SetStatus(200);  // the same code: the phrase stays
    EXPECT_EQ(response.StatusText(), "200 Custom");
    response.SetStatus(503);
    response.SetReasonPhrase("");
    EXPECT_EQ(response.StatusText(), "200 OK");  // an empty phrase writes 200 OK
}

TEST(WebServerResponse, HeaderBlockInItsFixedOrder) {
    TCustomServerLog log({});
    VersionedRequest request;
    {
        TWebServerResponse response(request, nullptr, &log);
        response.SetVarText(kLocationVar, "http://h/x");
        response.WWWAuthenticate = "Basic";
        response.Realm = "r";
        response.Allow = "GET";
        response.ContentVersion = "1";
        response.DerivedFrom = "d";
        response.Expires = ComposeDateTime(EncodeDate(2008, 2, 5), EncodeTime(14, 3, 9));
        response.LastModified = ComposeDateTime(EncodeDate(2007, 12, 31), EncodeTime(23, 59, 58));
        response.Title = "t";
        response.ContentEncoding = "gzip";
        response.ContentType = "text/plain";
        response.SetBodyText("hello");
        response.Transmit();
    }
    EXPECT_EQ(MaskDates(Logged(log)),
              "HTTP/1.1 200 OK\r\nLocation: http://h/x\r\nDate: *\r\nServer: Tessel Test "
              "Server/1.0\r\nWWW-Authenticate: BasicRealm=\"r\"\r\nAllow: GET\r\nContent-Version: "
              "1\r\nDerived-From: d\r\nExpires: Tue, 05 Feb 2008 14:03:09 GMT\r\nLast-Modified: "
              "Mon, 31 Dec 2007 23:59:58 GMT\r\nTitle: t\r\nContent-Encoding: gzip\r\n"
              "Content-Type: text/plain\r\nContent-Length: 5\r\nContent:\r\n\r\nhello");
}

TEST(WebServerResponse, MinimalAnswersAndTheDateLine) {
    TCustomServerLog log({});
    VersionedRequest request;
    {
        TWebServerResponse response(request, nullptr, &log);
        response.SetStatus(304);
        response.Transmit();
    }
    const std::string text = Logged(log);
    EXPECT_EQ(MaskDates(text),
              "HTTP/1.1 304 Not Modified\r\nDate: *\r\nServer: Tessel Test "
              "Server/1.0\r\nContent:\r\n\r\n");
    EXPECT_TRUE(request.SentText().empty());  // handed to the log and cleared
}

TEST(WebServerResponse, RequestWithoutVersionGetsTheBodyAlone) {
    TCustomServerLog log({});
    VersionedRequest request("");
    {
        TWebServerResponse response(request, nullptr, &log);
        response.SetStatus(404);
        response.ContentType = "text/html";
        response.SetBodyText("<p>gone</p>");
        response.Transmit();
    }
    EXPECT_EQ(Logged(log), "<p>gone</p>");
}

TEST(WebServerResponse, RedirectPage) {
    TCustomServerLog log({});
    VersionedRequest request;
    {
        TWebServerResponse response(request, nullptr, &log);
        response.TransmitRedirect("http://127.0.0.1:21887/index.htm");
    }
    const std::string page =
        "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\nThis "
        "Object may be found <a HREF=\"http://127.0.0.1:21887/index.htm\">here.</a><br>\r\n<br>"
        "</body></html>\r\n";
    EXPECT_EQ(MaskDates(Logged(log)),
              "HTTP/1.1 302 Moved Temporarily\r\nLocation: http://127.0.0.1:21887/index.htm\r\n"
              "Date: *\r\nServer: Tessel Test Server/1.0\r\nContent-Type: text/html\r\n"
              "Content-Length: " +
                  std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page);
}

TEST(WebServerResponse, ControlBytesNeverEndAHeaderLine) {
    TCustomServerLog log({});
    VersionedRequest request;
    {
        TWebServerResponse response(request, nullptr, &log);
        response.SetStatus(500);
        response.SetReasonPhrase("'a\r\nSet-Cookie: x=1\x01' is not a valid integer value");
        response.ContentType = "text/html\r\nX-Injected: 1";
        response.Transmit();
    }
    const std::string text = Logged(log);
    EXPECT_EQ(text.substr(0, text.find("\r\n")),
              "HTTP/1.1 500 'a  Set-Cookie: x=1 ' is not a valid integer value");
    EXPECT_EQ(text.find("\r\nSet-Cookie"), std::string::npos);
    EXPECT_EQ(text.find("\r\nX-Injected"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: text/html  X-Injected: 1\r\n"), std::string::npos);
}

TEST(WebServerResponse, BodyStreamGoesToTheConnectionNotTheLog) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TServerClientWinSocket connection(fds[0], nullptr);
    TCustomServerLog log({});
    VersionedRequest request;
    request.SetConnection(&connection);
    const std::string body(10000, 'b');
    {
        TWebServerResponse response(request, &connection, &log);
        response.ContentType = "application/octet-stream";
        response.SetBodyStream(std::make_unique<TMemoryStream>(body));
        EXPECT_EQ(response.ContentLength, 10000);
        response.Transmit();
    }
    connection.Close();
    std::string wire;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[1], buffer, sizeof buffer)) > 0;)
        wire.append(buffer, n);
    close(fds[1]);
    const std::string logged = Logged(log);
    EXPECT_EQ(logged.find('b'), std::string::npos);
    EXPECT_NE(logged.find("Content-Length: 10000\r\nContent:\r\n\r\n"), std::string::npos);
    EXPECT_EQ(wire, logged + body);
}

TEST(WebServerResponse, FileOverTwoGiBAnnouncesItsSize) {
    const std::string path = "/tmp/zephyrine-sparse-" + std::to_string(getpid()) + ".cab";
    {
        TFileStream file(path, TFileStream::TMode::Create);
        ASSERT_EQ(ftruncate(file.Handle(), 3LL << 30), 0);
    }
    VersionedRequest request;
    TWebServerResponse response(request, nullptr, nullptr);
    response.SetBodyStream(std::make_unique<TFileStream>(path, TFileStream::TMode::Read));
    unlink(path.c_str());
    EXPECT_NE(response.HeaderBlock().find("Content-Length: 3221225472\r\n"), std::string::npos);
}

TEST(ToGMT, StandardOffsetWithoutDaylightSaving) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    const TDateTime summer = ComposeDateTime(EncodeDate(2008, 7, 1), EncodeTime(12, 0, 0));
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    EXPECT_EQ(HTTPDate(ToGMT(summer)), "Tue, 01 Jul 2008 11:00:00 GMT");  // not 10:00
    setenv("TZ", "EST5EDT", 1);
    EXPECT_EQ(HTTPDate(ToGMT(summer)), "Tue, 01 Jul 2008 17:00:00 GMT");
    setenv("TZ", "IST-5:30", 1);
    EXPECT_EQ(HTTPDate(ToGMT(summer)), "Tue, 01 Jul 2008 06:30:00 GMT");
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(HTTPDate(ToGMT(summer)), "Tue, 01 Jul 2008 12:00:00 GMT");
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
