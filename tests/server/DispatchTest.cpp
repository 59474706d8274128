#include "server/Dispatch.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "server/HostedApps.h"
#include "HttpText.h"
#include "server/ReadRequest.h"
#include "server/ReqImpl.h"
#include "server/ServerTime.h"
#include "server/SvrLog.h"
#include "server/WebServerRequest.h"
#include "server/WebServerResponse.h"
#include "server/WinSocket.h"

using namespace zephyrine::base;
using namespace zephyrine::server;
namespace fs = std::filesystem;
using zephyrine::server::testing::WithoutDate;
using zephyrine::test::WriteFile;

namespace {

// root/secret.txt, root/pack/{temppack11.cab, app.exe, lib.DLL, page.htm, sub/}, and links.
class PackFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("zephyrine-dispatch-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        pack_ = root_ / "pack";
        fs::create_directories(pack_ / "sub");
        WriteFile(root_ / "secret.txt", "secret");
        WriteFile(pack_ / "temppack11.cab", std::string("MSCF\0\0\0\0", 8) + "cabinet");
        WriteFile(pack_ / "app.exe", "MZ");
        WriteFile(pack_ / "lib.DLL", "MZ");
        WriteFile(pack_ / "page.htm", "<p>x</p>");
        fs::create_symlink(root_ / "secret.txt", pack_ / "out.cab");
        fs::create_symlink("temppack11.cab", pack_ / "in.cab");
        context_.SearchPath = pack_.string();
        context_.Log = &log_;
        context_.ListenPort = 21887;
    }
    void TearDown() override { fs::remove_all(root_); }

    // Reads the raw request, answers it as a connection thread does (an escaping error becomes
    // the 500 page) and returns everything the answer wrote apart from file bodies.
    std::string Answer(const std::string& raw) {
        struct Handler final : IRequestHandler {
            const TDispatchContext& context;
            explicit Handler(const TDispatchContext& c) : context(c) {}
            void LogRequest(TWebServerRequest& r) override { context.Log->LogRequest(r); }
            bool ServeFile(TWebServerRequest& r, bool head) override {
                return zephyrine::server::ServeFile(context, r, head);
            }
            void SendBadRequest(TWebServerRequest& r) override {
                zephyrine::server::SendBadRequest(context, r);
            }
        } handler(context_);
        TMemoryStream input(raw);
        TWebServerRequest request(21887, "localhost", "127.0.0.1");
        try {
            THTTPParser parser(input);
            ReadRequest(parser, request, handler);
        } catch (const std::exception& e) {
            SendServerError(context_, request, e.what());
        }
        std::string sent;
        while (auto entry = log_.TakeNext()) {
            if (entry->GetColumnText(column::kEvent) == "RESPONSE") sent += entry->GetDetailText();
        }
        return sent;
    }

    fs::path root_, pack_;
    TCustomServerLog log_{{}};
    TDispatchContext context_;
};

}  // namespace

TEST_F(PackFolder, FindFileOnPathStaysInsideTheFolders) {
    const std::string cab = (pack_ / "temppack11.cab").string();
    struct Case {
        const char* path;
        std::string expected;
    } cases[] = {
        {"/temppack11.cab", cab},
        {"/any/folder/temppack11.cab", cab},
        {"/temppack11.cab/", cab},
        {"temppack11.cab", cab},
        {"/sub", (pack_ / "sub").string()},  // a folder exists (it then fails on its file time)
        {"/in.cab", (pack_ / "in.cab").string()},  // a link to a file inside is served
        {"/out.cab", ""},                          // a link to a file outside counts as absent
        {"/..", ""},
        {"/sub/..", ""},
        {"/.", ""},
        {"/../secret.txt", ""},
        {"/%2e%2e/secret.txt", ""},
        {"/%2e%2e%2fsecret.txt", ""},
        {"/..\\secret.txt", ""},
        {"/\\..\\..\\secret.txt", ""},
        {"/etc/passwd", ""},
        {"/", ""},
        {"", ""},
        {"/missing.cab", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindFileOnPath(c.path, pack_.string()), c.expected) << c.path;

    // folders are tried in order; empty and missing entries are passed over
    const std::string other = (root_ / "other").string();
    fs::create_directories(other);
    WriteFile(fs::path(other) / "temppack11.cab", "first");
    EXPECT_EQ(FindFileOnPath("/temppack11.cab", "/nonexistent;;" + other + ";" + pack_.string()),
              (fs::path(other) / "temppack11.cab").string());
    EXPECT_EQ(FindFileOnPath("/page.htm", other + "/;" + pack_.string() + "/"),
              (pack_ / "page.htm").string());
}

TEST(Dispatch, ExpandDefaultTarget) {
    struct Case {
        const char* target;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"index.htm", "http://127.0.0.1:21887/index.htm"},
        {"/index.htm", "http://127.0.0.1:21887/index.htm"},
        {"HTTP://elsewhere/x", "HTTP://elsewhere/x"},
        {"//host/x", "//host/x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandDefaultTarget(c.target, 21887), c.expected);
}

TEST(Dispatch, ExpandSearchPath) {
    setenv("ZEPHYRINE_TEST_DIR", "/srv/packs", 1);
    EXPECT_EQ(ExpandSearchPath("$(ZEPHYRINE_TEST_DIR)/msnpack/"), "/srv/packs/msnpack/");
    EXPECT_EQ(ExpandSearchPath("/a;$(ZEPHYRINE_TEST_DIR);/b"), "/a;/srv/packs;/b");
    EXPECT_EQ(ExpandSearchPath("/plain/path"), "/plain/path");
    EXPECT_EQ(ExpandSearchPath("$(ZEPHYRINE_UNSET_VARIABLE)/x"), "%ZEPHYRINE_UNSET_VARIABLE%/x");
}

TEST(Dispatch, ContentTypes) {
    const std::string table = (fs::temp_directory_path() / "zephyrine-mime.types").string();
    WriteFile(table,
              "# comment\napplication/x-test\ttst cab\napplication/x-msdos-program exe dll\n"
              "text/html html htm\n");
    const TMimeTypes types = TMimeTypes::Load(table);
    fs::remove(table);
    EXPECT_EQ(GetContentType("/p/temppack11.cab", types), "application/x-test");
    EXPECT_EQ(GetContentType("/p/PAGE.HTM", types), "text/html");
    EXPECT_EQ(GetContentType("/p/app.exe", types), "application/octet-stream");
    EXPECT_EQ(GetContentType("/p/lib.Dll", types), "application/octet-stream");
    EXPECT_EQ(GetContentType("/p/file.unknown", types), "application/octet-stream");
    EXPECT_EQ(GetContentType("/p.d/noextension", types), "application/octet-stream");
    EXPECT_EQ(GetContentType("/p/x.cab", TMimeTypes::Load("/nonexistent")),
              "application/octet-stream");
}

TEST_F(PackFolder, FixedPagesByteForByte) {
    const std::string notFound =
        "<TITLE>The requested URL was not found</TITLE><BODY><H1>The requested URL was not "
        "found</H1><P>HTTP status code: 404</BODY>";
    EXPECT_EQ(WithoutDate(Answer("GET /missing.cab HTTP/1.1\r\n\r\n")),
              "HTTP/1.1 404 Not Found\r\nServer: Tessel Test Server/1.0\r\nContent-Type: "
              "text/html\r\nContent-Length: " +
                  std::to_string(notFound.size()) + "\r\nContent:\r\n\r\n" + notFound);
    // HEAD of a missing file: one not-found page
    EXPECT_EQ(WithoutDate(Answer("HEAD /missing.cab HTTP/1.1\r\n\r\n")),
              WithoutDate(Answer("GET /missing.cab HTTP/1.1\r\n\r\n")));
    // an empty path with no default target
    EXPECT_EQ(WithoutDate(Answer("GET / HTTP/1.1\r\n\r\n")),
              WithoutDate(Answer("GET /missing.cab HTTP/1.1\r\n\r\n")));

    const std::string badRequest =
        "<HTML><TITLE>Invalid HTTP request: Method not allowed for HTTP/1.0</TITLE><BODY><H1>"
        "Invalid HTTP request: Method not allowed for HTTP/1.0</H1><P>HTTP status code: "
        "400</BODY></HTML>\r\n";
    EXPECT_EQ(WithoutDate(Answer("GET /x HTTP/1.1\r\nUser-Agent: 'unclosed\r\n\r\n")),
              "HTTP/1.1 400 Bad Request\r\nServer: Tessel Test Server/1.0\r\nContent-Type: "
              "text/html\r\nContent-Length: " +
                  std::to_string(badRequest.size()) + "\r\nContent:\r\n\r\n" + badRequest);
}

TEST_F(PackFolder, RedirectToTheDefaultTarget) {
    context_.DefaultTarget = "index.htm";
    const std::string text = Answer("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "HTTP/1.1 302 Moved Temporarily");
    EXPECT_NE(text.find("\r\nLocation: http://127.0.0.1:21887/index.htm\r\n"), std::string::npos);
    EXPECT_NE(text.find("<a HREF=\"http://127.0.0.1:21887/index.htm\">here.</a>"),
              std::string::npos);
}

TEST_F(PackFolder, FileHeadersConditionalAndHead) {
    const double modified = FileTimeGMT((pack_ / "temppack11.cab").string());
    const std::string lastModified = HTTPDate(modified);
    const std::string expected =
        "HTTP/1.1 200 OK\r\nServer: Tessel Test Server/1.0\r\n"
        "Last-Modified: " +
        lastModified +
        "\r\nContent-Type: application/vnd.ms-cab-compressed\r\n"
        "Content-Length: 15\r\nContent:\r\n\r\n";
    EXPECT_EQ(WithoutDate(Answer("GET /temppack11.cab HTTP/1.1\r\nHost: x\r\n\r\n")), expected);
    EXPECT_EQ(WithoutDate(Answer("POST /temppack11.cab?x=1 HTTP/1.1\r\n\r\n")), expected);
    // HEAD: the same block without Content-Length
    EXPECT_EQ(
        WithoutDate(Answer("HEAD /temppack11.cab HTTP/1.1\r\n\r\n")),
        "HTTP/1.1 200 OK\r\nServer: Tessel Test Server/1.0\r\nLast-Modified: " + lastModified +
            "\r\nContent-Type: application/vnd.ms-cab-compressed\r\nContent:\r\n\r\n");

    const std::string notModified =
        "HTTP/1.1 304 Not Modified\r\nServer: Tessel Test Server/1.0\r\nContent:\r\n\r\n";
    const std::string at = lastModified;
    const std::string before = HTTPDate(modified - EncodeTime(0, 0, 2));
    const std::string after = HTTPDate(modified + 1.0);
    EXPECT_EQ(WithoutDate(
                  Answer("GET /temppack11.cab HTTP/1.1\r\nIf-Modified-Since: " + at + "\r\n\r\n")),
              notModified);
    EXPECT_EQ(WithoutDate(Answer("GET /temppack11.cab HTTP/1.1\r\nIf-Modified-Since: " + after +
                                 "\r\n\r\n")),
              notModified);
    EXPECT_EQ(WithoutDate(Answer("GET /temppack11.cab HTTP/1.1\r\nIf-Modified-Since: " + before +
                                 "\r\n\r\n")),
              expected);

    EXPECT_NE(
        Answer("GET /app.exe HTTP/1.1\r\n\r\n").find("Content-Type: application/octet-stream"),
        std::string::npos);
    EXPECT_NE(
        Answer("GET /lib.DLL HTTP/1.1\r\n\r\n").find("Content-Type: application/octet-stream"),
        std::string::npos);
    EXPECT_NE(Answer("GET /page.htm HTTP/1.1\r\n\r\n").find("Content-Type: text/html\r\n"),
              std::string::npos);
    // a request without a version: no status line, no headers (the file body goes to the socket)
    EXPECT_EQ(Answer("GET /temppack11.cab\r\n\r\n"), "");
    EXPECT_EQ(Answer("GET /missing.cab\r\n"), kNotFoundPage);
}

TEST_F(PackFolder, MethodsWithoutAnAnswer) {
    for (const char* raw :
         {"PUT /temppack11.cab HTTP/1.1\r\n\r\n", "DELETE /temppack11.cab HTTP/1.1\r\n\r\n",
          "OPTIONS /temppack11.cab HTTP/1.1\r\n\r\n", "\r\n"}) {
        EXPECT_EQ(Answer(raw), "") << raw;
    }
}

TEST_F(PackFolder, InternalErrorPage) {
    // a folder: its file time cannot be read
    EXPECT_EQ(WithoutDate(Answer("GET /sub HTTP/1.1\r\n\r\n")),
              "HTTP/1.1 500 Invalid argument to date encode\r\nServer: Tessel Test Server/1.0\r\n"
              "Content-Type: text/html\r\nContent-Length: 157\r\nContent:\r\n\r\n"
              "<TITLE>Internal Server Error</TITLE><BODY><H1>Internal Server Error</H1><P>HTTP "
              "status code: 500<P>HTTP error message: Invalid argument to date encode</BODY>");
    // a conversion error quoting request bytes: no CR/LF in the status line, escaped in the page
    const std::string text = Answer(
        "GET /temppack11.cab HTTP/1.1\r\nDate: 05 Feb 2008 14:03:09 '<b>'#13#10'X: y'\r\n\r\n");
    const std::string statusLine = text.substr(0, text.find("\r\n"));
    EXPECT_EQ(statusLine.substr(0, 13), "HTTP/1.1 500 ");
    EXPECT_TRUE(std::none_of(statusLine.begin(), statusLine.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 32; }));
    EXPECT_EQ(text.substr(0, text.find("\r\n\r\n")).find("\r\nX: y"), std::string::npos);
    const std::string page = text.substr(text.find("\r\n\r\n") + 4);
    EXPECT_EQ(page.find("<b>"), std::string::npos) << page;
    EXPECT_NE(page.find("&lt;b&gt;"), std::string::npos) << page;
}

namespace {

constexpr const char* kDemoClass = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
constexpr const char* kMuteClass = "{11111111-2222-3333-4444-555555555555}";

struct DemoApplication final : IHostedApplication {
    HRESULT HandleRequest(IWebRequest& request) override {
        TVariant path;
        request.Variable(var::kPathInfo, path);
        const auto& bytes = std::get<TByteArray>(path);
        const std::string text =
            "HTTP/1.1 200 OK\r\n\r\nhosted " + std::string(bytes.begin(), bytes.end());
        int written = 0;
        return request.Write(TByteArray(text.begin(), text.end()), written);
    }
};

struct FailingApplication final : IHostedApplication {
    HRESULT HandleRequest(IWebRequest&) override { return kE_UNEXPECTED; }
};

}  // namespace

TEST_F(PackFolder, HostedApplicationsComeBeforeFiles) {
    RegisterHostedApplication({"Demo.App", kDemoClass, "/opt/demo/DemoApp.exe",
                               [] { return std::make_unique<DemoApplication>(); }});
    RegisterHostedApplication({"Mute.App", kMuteClass, "", [] { return nullptr; }});
    RegisterHostedApplication({"Failing.App", "{22222222-2222-3333-4444-555555555555}", "",
                               [] { return std::make_unique<FailingApplication>(); }});
    struct Case {
        const char* raw;
        const char* start;
    } cases[] = {
        {"GET /Demo.App/temppack11.cab HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK\r\n\r\nhosted /Demo.App"},
        {"GET /demo.app HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\nhosted /demo.app"},
        {"GET /{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}/x HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET /demoapp.EXE/x HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\nhosted"},
        // found by class id or name but not usable: the internal-error page
        {"GET /Mute.App HTTP/1.1\r\n\r\n", "HTTP/1.1 500 Interface not supported"},
        {"GET /{99999999-2222-3333-4444-555555555555} HTTP/1.1\r\n\r\n",
         "HTTP/1.1 500 Class not registered"},
        {"GET /Failing.App HTTP/1.1\r\n\r\n",
         "HTTP/1.1 500 Hosted application failed (0x8000FFFF)"},
        // a ".js" first segment is never a programmatic identifier; "{" without a class id is not
        // one
        {"GET /Demo.js/temppack11.cab HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nDate"},
        {"GET /{bad}/temppack11.cab HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nDate"},
        {"GET /temppack11.cab HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nDate"},
    };
    for (const auto& c : cases) {
        const std::string text = Answer(c.raw);
        EXPECT_EQ(text.substr(0, std::string(c.start).size()), c.start) << c.raw;
    }
    UnregisterHostedApplication(kDemoClass);
    UnregisterHostedApplication(kMuteClass);
    UnregisterHostedApplication("{22222222-2222-3333-4444-555555555555}");
    EXPECT_EQ(Answer("GET /Demo.App HTTP/1.1\r\n\r\n").substr(0, 22), "HTTP/1.1 404 Not Found");
}
