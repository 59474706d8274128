// The window's Upgrade, offscreen, against real servers on loopback: python3 -m http.server for
// the ordinary answers, the scripted server for faults (truncated, reset, silent, ...). Whatever
// goes wrong, WinksList.dat and Config.ini stay byte for byte as they were.
#include "WholeProgram.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"
#include "support/ScriptedServer.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

using namespace zephyrine;
using httpclient::test::ClosedPort;
using httpclient::test::Pause;
using httpclient::test::ReadRequest;
using httpclient::test::Reply;
using httpclient::test::Reset;
using httpclient::test::Send;
using httpclient::test::Silent;
using httpclient::test::TScript;
using httpclient::test::TScriptedServer;
using httpclient::test::Until;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

namespace {

const std::string kConfig =
    "; kept as it is\r\n[Config]\r\nCurrentWinks=37\r\nSkinFile=Aqua.sui\r\n";
const std::string kUnsuccessful = "updated unsuccessfully";
const std::string kPleaseWait =
    "Please wait while Zephyrine's update infomation is being retrieved..";
const std::string kConnected = "Connected successfully!Downloading..";
const std::string kDownloading = "Downloading Winks List,Please wait..";
const std::string kOld = test::Catalogue({{"Love", 20}, {"Funny", 17}});  // 37 items
const std::string kNew = test::Catalogue({{"Love", 20}, {"Funny", 20}});  // 40 items

std::string Ok(const std::string& body, bool withLength = true) {
    return std::string("HTTP/1.0 200 OK\r\n") +
           (withLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" +
           body;
}
const TScript kCount40 = Reply(Ok("[Config]\r\nCurrentWinks=40\r\n"));

class MainFormUpgradeTest : public ::testing::Test {
  protected:
    MainFormUpgradeTest()
        : data("XDG_DATA_HOME", app / "xdg-data"), runtime("XDG_RUNTIME_DIR", app.Folder()) {
        test::EnsureApp();
        WriteFile(app / "WinksList.dat", kOld);
        WriteFile(app / "Config.ini", kConfig);
    }

    void Create(const std::string& catalogueRoot) {
        window.reset();
        global = std::make_unique<app::TGlobal>(app.Folder(), "http://content.test");
        platform::TPlatform p;
        p.MessageBox = std::make_unique<test::TRecordingMessageBox>(messages);
        p.OnStatusText = [this](const std::string& text) { statuses.push_back(text); };
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{"http://content.test", catalogueRoot});
        window->show();
        QApplication::processEvents();
        messages->clear();
    }
    // The statuses the update showed.
    std::vector<std::string> Upgrade() {
        statuses.clear();
        window->actUpgradeExecute();
        return statuses;
    }
    bool ActionsEnabled() const {
        return test::Parts(*window).actUpgrade->isEnabled() &&
               test::Parts(*window).actInstall->isEnabled() &&
               test::Parts(*window).actInstallChe->isEnabled() &&
               test::Parts(*window).btnUpgrade->isEnabled();
    }
    // Nothing replaced, nothing claimed, nothing left behind.
    void ExpectNothingChanged(const std::string& dat = kOld) {
        EXPECT_EQ(ReadFile(app / "WinksList.dat"), dat);
        EXPECT_EQ(ReadFile(app / "Config.ini"), kConfig);
        EXPECT_FALSE(fs::exists(app / "WinksList.temp"));
        EXPECT_TRUE(messages->empty()) << messages->front().Text;
        EXPECT_EQ(window->StatusText().toStdString(), kUnsuccessful);
        EXPECT_TRUE(ActionsEnabled());
        EXPECT_FALSE(test::Parts(*window).prgUpgrade->isVisible());
    }

    test::TTempDir app;
    test::TScopedEnv data, runtime;
    std::unique_ptr<app::TGlobal> global;
    std::unique_ptr<app::TfrmMainForm> window;
    std::shared_ptr<std::vector<test::TShownMessage>> messages =
        std::make_shared<std::vector<test::TShownMessage>>();
    std::vector<std::string> statuses;
};

TEST_F(MainFormUpgradeTest, MoreItemsOnTheServerReplaceTheCatalogueAndReloadTheTree) {
    test::TTempDir site;
    WriteFile(site / "download/winkscount.txt", "[Config]\r\nCurrentWinks=40\r\n");
    WriteFile(site / "download/newnmpwinkslist.dat", kNew);
    mediatest::TLocalHttpServer server(site.Path());
    // My Winks holds one item: never counted as the catalogue's, never touched by the update.
    ASSERT_TRUE(mediatest::MakeCabinet(app / "kept.mco", {{"kept.xml", "<kept/>"}}));
    ASSERT_EQ(app::TWinkLibrary(app / "MyWinks/").Add(app / "kept.mco").Outcome,
              app::TAddOutcome::Added);
    const std::string library = ReadFile(app / "MyWinks/MyWinks.dat");
    Create(server.Root());
    ASSERT_EQ(window->ItemCount(), 37);
    EXPECT_EQ(window->StatusText(), "37 Winks of MSN Messenger in the list.");

    EXPECT_EQ(Upgrade(), (std::vector<std::string>{kPleaseWait, kConnected, kDownloading,
                                                   "40 Winks of MSN Messenger in the list."}));
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ(messages->front().Text,
              "Total 3 new Winks have been downloaded successfully from server.");
    EXPECT_EQ(messages->front().Icon, platform::TMsgIcon::Information);
    EXPECT_EQ(ReadFile(app / "WinksList.dat"), kNew);
    EXPECT_FALSE(fs::exists(app / "WinksList.temp"));
    EXPECT_EQ(ReadFile(app / "winkscount.ini"), "[Config]\r\nCurrentWinks=40\r\n");
    EXPECT_EQ(ReadFile(app / "Config.ini"),
              "; kept as it is\r\n[Config]\r\nCurrentWinks=40\r\nSkinFile=Aqua.sui\r\n");
    EXPECT_EQ(window->ItemCount(), 40);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->ItemCount(1), 20);
    EXPECT_TRUE(ActionsEnabled());
    EXPECT_FALSE(test::Parts(*window).prgUpgrade->isVisible());
    EXPECT_EQ(ReadFile(app / "MyWinks/MyWinks.dat"), library);
    ASSERT_EQ(test::Parts(*window).treWinksListModel->TrailingCategory(), 2);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->ItemCount(2), 1) << "shown after the reload";
}

// Config.ini cannot be saved once WinksList.dat was replaced: the tree shows the catalogue on
// disk, and the texts say the list was updated and the setting was not saved; no failure text
// follows the success box.
TEST_F(MainFormUpgradeTest, UnsavableSettingsAfterAReplacementStillReloadTheTree) {
    TScriptedServer server({kCount40, Reply(Ok(kNew))});
    Create(server.Url(""));
    fs::remove(app / "Config.ini");
    WriteFile(app / "Config.ini/keep", "a folder where the file would be");
    const std::vector<std::string> shown = Upgrade();
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ(messages->front().Text,
              "Total 3 new Winks have been downloaded successfully from server.");
    EXPECT_EQ(ReadFile(app / "WinksList.dat"), kNew);
    EXPECT_EQ(window->ItemCount(), 40);
    EXPECT_EQ(test::Parts(*window).treWinksListModel->ItemCount(1), 20);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), kUnsuccessful), 0);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2], "40 Winks of MSN Messenger in the list.");
    EXPECT_EQ(
        shown.back().rfind(
            "The Winks list was updated, but the settings could not be saved: Cannot write ", 0),
        0u)
        << shown.back();
    EXPECT_TRUE(ActionsEnabled());
}

TEST_F(MainFormUpgradeTest, AsManyOrFewerItemsAreNoNewsAndNoSecondRequest) {
    for (const std::string count : {"37", "30", "", "not a number"}) {
        SCOPED_TRACE(count);
        TScriptedServer server({Reply(Ok("[Config]\r\nCurrentWinks=" + count + "\r\n"))});
        Create(server.Url(""));
        EXPECT_EQ(Upgrade(), (std::vector<std::string>{kPleaseWait, kConnected,
                                                       "0 New Winks Found in server."}));
        ASSERT_EQ(server.Received().size(), 1u);
        EXPECT_EQ(server.Received()[0].rfind("GET /download/winkscount.txt HTTP/1.0\r\n", 0), 0u);
        EXPECT_EQ(ReadFile(app / "WinksList.dat"), kOld);
        EXPECT_EQ(ReadFile(app / "Config.ini"), kConfig);
        EXPECT_TRUE(messages->empty());
        EXPECT_TRUE(ActionsEnabled());
    }
}

TEST_F(MainFormUpgradeTest, UnreachableCountHostEndsUnsuccessfully) {
    Create("http://127.0.0.1:" + std::to_string(ClosedPort()));
    EXPECT_EQ(Upgrade(),
              (std::vector<std::string>{kPleaseWait, "Connected unsuccessfully!", kUnsuccessful}));
    ExpectNothingChanged();
}

TEST_F(MainFormUpgradeTest, FaultsOfTheCatalogueDownloadLeaveBothFilesAsTheyWere) {
    const std::string half = kNew.substr(0, kNew.size() / 2);
    const std::string header =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kNew.size()) + "\r\n\r\n";
    const struct {
        const char* fault;
        TScript list;
    } faults[] = {
        {"error status, catalogue body", Reply("HTTP/1.0 500 Oops\r\n\r\n" + kNew)},
        {"error page", Reply("HTTP/1.0 404 Not Found\r\n\r\n<html>Not Found</html>")},
        {"short of its Content-Length", Reply(header + half)},
        {"cut short, no Content-Length", Reply(Ok(half, false))},
        {"malformed XML", Reply(Ok("<WinksList><Love><Wink WinkName=\"a\"></Love></WinksList>"))},
        {"XML, no catalogue", Reply(Ok("<html><head><title>Hi</title></head></html>"))},
        {"no item", Reply(Ok("<WinksList><Love/></WinksList>"))},
        {"empty reply", {ReadRequest()}},
        {"reset in the body", {ReadRequest(), Send(header + half), Pause(50), Reset()}},
        {"refused after a redirect", Reply("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" +
                                           std::to_string(ClosedPort()) + "/x\r\n\r\n")},
        {"silent in the body", {ReadRequest(), Send(header + half), Silent()}},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.fault);
        TScriptedServer server({kCount40, f.list});
        Create(server.Url(""));
        window->Upgrade().ListClient().IdleLimit = 300;
        const std::vector<std::string> shown = Upgrade();
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[shown.size() - 2], kDownloading);
        ASSERT_GE(server.Received().size(), 2u);
        EXPECT_EQ(server.Received()[1].rfind("GET /download/newnmpwinkslist.dat HTTP/1.0\r\n", 0),
                  0u);
        ExpectNothingChanged();
        EXPECT_EQ(window->ItemCount(), 37);
    }
}

TEST_F(MainFormUpgradeTest, FailedRenameLeavesTheOldCatalogue) {
    // A catalogue that cannot be replaced: a folder that is not empty.
    fs::remove(app / "WinksList.dat");
    WriteFile(app / "WinksList.dat/keep", "kept");
    TScriptedServer server({kCount40, Reply(Ok(kNew))});
    Create(server.Url(""));
    EXPECT_EQ(Upgrade().back(), kUnsuccessful);
    EXPECT_EQ(ReadFile(app / "WinksList.dat/keep"), "kept");
    ExpectNothingChanged("");
}

TEST_F(MainFormUpgradeTest, FullDiskLeavesBothFilesAsTheyWere) {
    const std::string child = wholetest::Env("ZEPHYRINE_UPGRADE_CHILD");
    ASSERT_FALSE(child.empty());
    test::TTempDir site;
    WriteFile(site / "download/winkscount.txt", "[Config]\r\nCurrentWinks=40\r\n");
    WriteFile(site / "download/newnmpwinkslist.dat", kNew);
    mediatest::TLocalHttpServer server(site.Path());
    // No file may grow beyond 1 KiB: the count file and Config.ini fit, the catalogue does not.
    const std::string limited =
        wholetest::Capture({child, app.Folder(), server.Root(), "1024"}, "");
    EXPECT_NE(limited.find("Status: " + kDownloading + "\nStatus: " + kUnsuccessful + "\n"),
              std::string::npos)
        << limited;
    EXPECT_EQ(limited.find("MessageBox"), std::string::npos) << limited;
    EXPECT_EQ(ReadFile(app / "WinksList.dat"), kOld);
    EXPECT_EQ(ReadFile(app / "Config.ini"), kConfig);
    EXPECT_FALSE(fs::exists(app / "WinksList.temp"));
    // The same without the limit succeeds.
    const std::string free = wholetest::Capture({child, app.Folder(), server.Root(), "0"}, "");
    EXPECT_NE(free.find("Status: 40 Winks of MSN Messenger in the list.\n"), std::string::npos)
        << free;
    EXPECT_EQ(ReadFile(app / "WinksList.dat"), kNew);
}

TEST_F(MainFormUpgradeTest, ProgressBarFollowsTheBytesOfTheCatalogue) {
    std::vector<int> values;  // while the bar is shown
    std::atomic<int> moved{0};  // the values above 0 among them
    TScript list = {
        ReadRequest(),
        Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kNew.size()) + "\r\n\r\n")};
    // Each piece once the bar has shown the one before.
    const std::size_t piece = kNew.size() / 5 + 1;
    for (std::size_t at = 0, n = 1; at < kNew.size(); at += piece, ++n) {
        list.push_back(Send(kNew.substr(at, piece)));
        list.push_back(Until([&moved, n] { return moved >= static_cast<int>(n); }));
    }
    TScriptedServer server({kCount40, list});
    Create(server.Url(""));
    QObject::connect(test::Parts(*window).prgUpgrade, &QProgressBar::valueChanged, [&](int value) {
        if (!test::Parts(*window).prgUpgrade->isVisible()) return;
        values.push_back(value);
        if (value > 0) ++moved;
    });
    EXPECT_EQ(Upgrade().back(), "40 Winks of MSN Messenger in the list.");
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GE(std::count_if(values.begin(), values.end(), [](int v) { return v > 0 && v < 1000; }),
              4);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 1000);
    EXPECT_FALSE(test::Parts(*window).prgUpgrade->isVisible());
}

// Escape, or a close, while the catalogue trickles in: the request ends at once, nothing is
// replaced; a close takes effect once the update has unwound. While the requests pump, a second
// Upgrade, a dropped file and a click in the tree change nothing.
TEST_F(MainFormUpgradeTest, EscapeOrCloseDuringTheDownloadAbortIt) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "Escape");
        TScriptedServer server(
            {kCount40, {ReadRequest(), Send(Ok(kNew, false).substr(0, 99)), Silent()}});
        Create(server.Url(""));
        window->Upgrade().ListClient().IdleLimit = 20000;
        bool acted = false, busyBar = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (acted || window->Upgrade().ListClient().BytesReceived() == 0) return;
            acted = true;
            busyBar = test::Parts(*window).prgUpgrade->isVisible() &&
                      test::Parts(*window).prgUpgrade->maximum() == 0;
            window->actUpgradeExecute();
            window->OpenDroppedFile(app / "x.mco");
            test::Parts(*window).treWinksList->setCurrentIndex(
                test::Parts(*window).treWinksListModel->ItemIndex(0, 0));
            window->treWinksListClick();
            EXPECT_FALSE(test::Parts(*window).actInstall->isEnabled());
            if (close) {
                EXPECT_FALSE(window->close());
                EXPECT_TRUE(window->isVisible());
            } else {
                QTest::keyClick(test::Parts(*window).treWinksList, Qt::Key_Escape);
            }
        });
        poll.start(5);
        const std::vector<std::string> shown = Upgrade();
        EXPECT_TRUE(acted);
        // Ended by the abort, not by the silent server's idle limit.
        EXPECT_FALSE(window->Upgrade().ListClient().TimedOut());
        EXPECT_TRUE(busyBar) << "no Content-Length: the bar shows it is busy";
        // Neither the second Upgrade nor the drop showed anything; the click previewed.
        EXPECT_EQ(shown, (std::vector<std::string>{kPleaseWait, kConnected, kDownloading,
                                                   "Previewing..", kUnsuccessful}));
        EXPECT_EQ(server.Received().size(), 2u);
        ExpectNothingChanged();
        EXPECT_EQ(window->isVisible(), !close);
    }
}

}  // namespace
