// The messenger content installer stand-in and its URL cache against a real HTTP server on
// loopback, with cabinets made by gcab and unpacked by cabextract.
#include "platform/IECache.h"
#include "support/LocalHttpServer.h"
#include "platform/MessengerContentInstaller.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <utime.h>

#include <cerrno>
#include <map>

using namespace zephyrine::platform;
using zephyrine::mediatest::ReadText;
using zephyrine::mediatest::TLocalHttpServer;
using zephyrine::mediatest::TTempFolder;
using zephyrine::mediatest::WriteText;
namespace fs = std::filesystem;

namespace {

constexpr int kDeliveryTimeoutMs = 30000;

class MessengerContentInstallerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        installer = std::make_unique<TMessengerContentInstaller>();
        installer->OnContentInstalled = [this](std::int32_t hr) { results.push_back(hr); };
    }

    // A cabinet named name in the served folder holding the given files.
    void MakeCabinet(const std::string& name, const std::map<std::string, std::string>& files) {
        TTempFolder work;
        std::vector<std::string> args = {"gcab", "-c", site / name};
        for (const auto& [file, text] : files) {
            WriteText(work / file, text);
            args.push_back(file);
        }
        ASSERT_EQ(zephyrine::mediatest::Run(args, work.Path()), 0);
    }

    void WaitForResults(std::size_t count) {
        QElapsedTimer t;
        t.start();
        while (results.size() < count && t.elapsed() < kDeliveryTimeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_EQ(results.size(), count);
    }

    std::string Store(const std::string& pack, const std::string& file) {
        return TMessengerContentInstaller::StoreFolder() + pack + "/" + file;
    }

    TTempFolder home;
    TTempFolder site;
    std::unique_ptr<TMessengerContentInstaller> installer;
    std::vector<std::int32_t> results;
};

TEST_F(MessengerContentInstallerTest, InstallsPackIntoTheStoreOnTheUiThread) {
    MakeCabinet("foo.cab", {{"foo.xml", "<wink/>"}, {"foo.swf", "FWS-movie"}});
    TLocalHttpServer server(site.Path());
    const std::string url = server.Root() + "/foo.cab";

    installer->InstallFromUrl(url);
    EXPECT_TRUE(results.empty()) << "the result comes later, from the event loop";
    WaitForResults(1);
    EXPECT_EQ(results[0], kHrInstalled);
    EXPECT_EQ(installer->LastFailure(), "");
    EXPECT_EQ(ReadText(Store("foo", "foo.xml")), "<wink/>");
    EXPECT_EQ(ReadText(Store("foo", "foo.swf")), "FWS-movie");
    EXPECT_FALSE(fs::exists(TMessengerContentInstaller::StoreFolder() + ".foo.unpacking"));

    TIECache cache;
    EXPECT_TRUE(fs::exists(TIECache::EntryPath(url)));
    EXPECT_EQ(cache.DeleteUrlCacheEntry(url), 0u);
    EXPECT_FALSE(fs::exists(TIECache::EntryPath(url)));
    EXPECT_EQ(cache.DeleteUrlCacheEntry(url), static_cast<std::uint32_t>(ENOENT));
}

TEST_F(MessengerContentInstallerTest, ReportsEachKindOfFailureAndInstallsNothing) {
    WriteText(site / "text.cab", "plain text, not a cabinet");
    WriteText(site / "broken.cab", std::string("MSCF") + std::string(200, '\x01'));
    TLocalHttpServer server(site.Path());

    // A port that was just free: nothing listens there.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    installer->InstallFromUrl(server.Root() + "/missing.cab");
    installer->InstallFromUrl(server.Root() + "/text.cab");
    installer->InstallFromUrl(server.Root() + "/broken.cab");
    installer->InstallFromUrl(closed + "/any.cab");
    WaitForResults(4);
    EXPECT_EQ(results[0], kHrNotFound);
    EXPECT_EQ(results[1], kHrNotACabinet);
    EXPECT_EQ(results[2], kHrUnpackFailed);
    EXPECT_EQ(results[3], kHrCannotConnect);
    EXPECT_NE(installer->LastFailure().find("any.cab"), std::string::npos);
    for (const char* pack : {"missing", "text", "broken", "any"})
        EXPECT_FALSE(fs::exists(TMessengerContentInstaller::StoreFolder() + pack)) << pack;
    EXPECT_FALSE(fs::exists(TIECache::EntryPath(server.Root() + "/text.cab")));
}

TEST_F(MessengerContentInstallerTest, RefusesUnusableRequestsAtOnce) {
    for (const char* url : {"", "ftp://127.0.0.1/a.cab", "file:///etc/passwd", "http://",
                            "http:///a.cab", "http://127.0.0.1/a b.cab", "javascript:alert(1)"}) {
        try {
            installer->InstallFromUrl(url);
            ADD_FAILURE() << "accepted " << url;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("http and https"), std::string::npos) << e.what();
        }
    }
    // The content store cannot be made below a regular file.
    WriteText(home / "plain-file", "x");
    setenv("XDG_DATA_HOME", (home / "plain-file").c_str(), 1);
    try {
        installer->InstallFromUrl("http://127.0.0.1:1/a.cab");
        ADD_FAILURE() << "accepted an unusable store";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("content store cannot be created"), std::string::npos)
            << e.what();
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(results.empty()) << "a refused hand-over never completes";
}

// Like the messenger's, the cache serves a pack again while the server has nothing newer; only
// deleting the entry forces a fresh fetch of a pack rewritten with the same time.
TEST_F(MessengerContentInstallerTest, CacheKeepsPackUntilNewerOrDeleted) {
    MakeCabinet("pack.cab", {{"a.txt", "first"}, {"old.txt", "old"}});
    TLocalHttpServer server(site.Path());
    const std::string url = server.Root() + "/pack.cab";
    installer->InstallFromUrl(url);
    WaitForResults(1);
    ASSERT_EQ(results[0], kHrInstalled);
    const auto firstTime = fs::last_write_time(site / "pack.cab");

    MakeCabinet("pack.cab", {{"a.txt", "second"}});
    fs::last_write_time(site / "pack.cab", firstTime);
    installer->InstallFromUrl(url);
    WaitForResults(2);
    ASSERT_EQ(results[1], kHrInstalled);
    EXPECT_EQ(ReadText(Store("pack", "a.txt")), "first")
        << "an unchanged pack comes from the cache";

    ASSERT_EQ(TIECache().DeleteUrlCacheEntry(url), 0u);
    installer->InstallFromUrl(url);
    WaitForResults(3);
    ASSERT_EQ(results[2], kHrInstalled);
    EXPECT_EQ(ReadText(Store("pack", "a.txt")), "second");
    EXPECT_FALSE(fs::exists(Store("pack", "old.txt"))) << "a new copy replaces the old one whole";

    MakeCabinet("pack.cab", {{"a.txt", "third"}});
    fs::last_write_time(site / "pack.cab", firstTime + std::chrono::seconds(60));
    installer->InstallFromUrl(url);
    WaitForResults(4);
    ASSERT_EQ(results[3], kHrInstalled);
    EXPECT_EQ(ReadText(Store("pack", "a.txt")), "third") << "a newer pack is fetched again";
}

TEST_F(MessengerContentInstallerTest, PackNamesStayInsideTheStore) {
    EXPECT_EQ(TMessengerContentInstaller::PackName("http://h/download/foo.cab"), "foo");
    EXPECT_EQ(TMessengerContentInstaller::PackName("http://h/a/b.c.cab?x=1#y"), "b.c");
    EXPECT_EQ(TMessengerContentInstaller::PackName("http://h/download/"), "pack");
    EXPECT_EQ(TMessengerContentInstaller::PackName("http://h/..%2F..%2Fetc.cab"), "_._2F.._2Fetc");
    EXPECT_EQ(TMessengerContentInstaller::PackName("http://h/..cab"), "_");
}

// Destroying the installer ends a transfer that hangs and never reports it.
TEST_F(MessengerContentInstallerTest, DestructionEndsAHangingTransfer) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(s, 4), 0);  // accepted by the kernel, never answered
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    installer->InstallFromUrl("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) +
                              "/slow.cab");
    // Destroyed once the request has arrived: the transfer is under way.
    pollfd listening{s, POLLIN, 0};
    while (poll(&listening, 1, 10) == 0)
        QCoreApplication::processEvents();
    const int peer = accept(s, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    std::string request;
    for (char c; request.find("\r\n\r\n") == std::string::npos && read(peer, &c, 1) == 1;)
        request += c;
    EXPECT_NE(request.find("GET /slow.cab"), std::string::npos) << request;
    installer.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(results.empty());
    close(peer);
    close(s);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
