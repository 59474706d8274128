// The whole program under Xvfb against the demo server (zephyrine-httpd over the demo folder): a
// click on Upgrade brings the newer catalogue into the tree (the box, the new count, the file and
// Config.ini), a new item previews and installs; with the server stopped, Upgrade ends as
// "updated unsuccessfully" and the catalogue stays. Grabs go to ZEPHYRINE_ARTIFACTS.
#include "WholeProgram.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zephyrine::wholetest;

namespace {

constexpr int kButtonBarTop = 375 - 19 - 44;  // Panel3 in the client area
constexpr int kTreeRowHeight = 18;            // a click in the middle of row 1
constexpr int kFindRowHeight = 22;            // the search field above the tree

class WholeProgramUpgradeTest : public ::testing::Test {
  protected:
    std::string Log() const { return ReadText(home / "program.log"); }
    // The status texts and message boxes alone, in order: the browser engine's own lines on
    // standard error may fall between them.
    std::string Texts() const {
        std::istringstream in(Log());
        std::string texts;
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Status: ", 0) == 0 || line.rfind("MessageBox[", 0) == 0)
                texts += line + "\n";
        return texts;
    }
    ::testing::AssertionResult WaitForLog(const std::string& line) const {
        return witness.AwaitLine(line);
    }
    void Click(const std::string& display, int x, int y) const {
        Capture({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"},
                display);
    }
    void Grab(const std::string& display, TPoint origin, const std::string& name) {
        Capture({"import", "-display", display, "-window", "root", "-crop",
                 "618x375+" + std::to_string(origin.x) + "+" + std::to_string(origin.y),
                 witness.Shot(Env("ZEPHYRINE_ARTIFACTS") + "/" + name)},
                display);
    }

    TTempFolder app, home;
    TWitness witness{home / "program.log"};
};

TEST_F(WholeProgramUpgradeTest, UpgradeFromTheDemoServerThenWithTheServerStopped) {
    const std::string bin = Env("ZEPHYRINE_BIN");
    ASSERT_FALSE(bin.empty());
    fs::create_directories(Env("ZEPHYRINE_ARTIFACTS"));
    const std::string demo = bin + "/demo-content";
    CopyProgram(bin, app);
    // The sample catalogue from the sources: the one beside the build's program may have been
    // updated by a user's run.
    fs::copy_file(Env("ZEPHYRINE_SAMPLE_CATALOGUE"), app / "WinksList.dat");

    auto server = std::make_unique<TProcess>(
        std::vector<std::string>{bin + "/zephyrine-httpd", "--port", "0", "--search-path", demo},
        std::vector<std::string>{}, home / "httpd.log");
    std::string listening;
    const TWitness httpd(home / "httpd.log");
    ASSERT_TRUE(httpd.Await("zephyrine-httpd's \"listening\" line", [&] {
        const std::string log = httpd.Trace();
        if (log.find("listening") == std::string::npos || log.find('\n') == std::string::npos)
            return false;
        listening = log.substr(0, log.find('\n'));
        return true;
    }));
    const std::string root = "http://127.0.0.1:" + listening.substr(listening.rfind(' ') + 1);

    const TXvfb xvfb(home / "xvfb.log");
    const std::string display = xvfb.Display();
    ASSERT_FALSE(display.empty());
    TProcess program({app / "zephyrine"},
                     {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "ZEPHYRINE_TRACE=stderr",
                      "ZEPHYRINE_MESSAGE_BOX=stderr", "ZEPHYRINE_CATALOGUE_ROOT=" + root,
                      "ZEPHYRINE_CONTENT_ROOT=" + root, "XDG_RUNTIME_DIR=" + home.Path().string(),
                      "XDG_DATA_HOME=" + home / "data", "XDG_CACHE_HOME=" + home / "cache",
                      "TMPDIR=" + home.Path().string(), "QTWEBENGINE_DISABLE_SANDBOX=1"},
                     home / "program.log");
    const TPoint origin = WaitForWindow(display, "^Zephyrine$");
    ASSERT_GE(origin.x, 0) << witness.Report("the program's window");
    ASSERT_TRUE(WaitForLog("Status: 13 Winks of MSN Messenger in the list."));
    // The player joins the window once it is shown, and the window is made anew for it then: a
    // click before that may land on the window that goes.
    ASSERT_TRUE(WaitForLog("PlayerReady: yes"));
    const int upgradeX = origin.x + kPaneLeft + 91 + 40, buttonY = origin.y + kButtonBarTop + 22;

    Click(display, upgradeX, buttonY);
    ASSERT_TRUE(WaitForLog("Status: 16 Winks of MSN Messenger in the list."));
    const std::string log = Texts();
    const auto at = log.find(
        "Status: Please wait while Zephyrine's update infomation is being "
        "retrieved..\nStatus: Connected successfully!Downloading..\n"
        "Status: Downloading Winks List,Please wait..\n"
        "MessageBox[Zephyrine]: Total 3 new Winks have been downloaded "
        "successfully from server.\n");
    EXPECT_NE(at, std::string::npos) << witness.Report("the update's status texts in order");
    EXPECT_EQ(ReadText(app / "WinksList.dat"), ReadText(demo + "/newnmpwinkslist.dat"));
    EXPECT_NE(ReadText(app / "Config.ini").find("CurrentWinks=16"), std::string::npos);
    Grab(display, origin, "upgrade-reloaded.png");

    // The first new item, at the top of the expanded first category: preview, then install.
    Click(display, origin.x + 60, origin.y + kFindRowHeight + kTreeRowHeight * 3 / 2);
    EXPECT_TRUE(WaitForLog("FirstFrame: " + root + "/download/previewback/shooting-star.swf"));
    Click(display, origin.x + kPaneLeft + 5 + 40, buttonY);
    EXPECT_TRUE(WaitForLog("Status: Shooting Star installed successfully."));
    EXPECT_TRUE(fs::exists(home / "data/messenger-content/shooting-star/shooting-star.swf"));
    Grab(display, origin, "upgrade-new-item.png");

    // The demo server stopped: the count host cannot be reached, nothing changes.
    server.reset();
    const std::string before = ReadText(app / "WinksList.dat");
    const std::string config = ReadText(app / "Config.ini");
    Click(display, upgradeX, buttonY);
    EXPECT_TRUE(WaitForLog("Status: Connected unsuccessfully!\nStatus: updated unsuccessfully"));
    EXPECT_EQ(ReadText(app / "WinksList.dat"), before);
    EXPECT_EQ(ReadText(app / "Config.ini"), config);
    const std::string end = Log();
    EXPECT_EQ(end.find("MessageBox"), end.rfind("MessageBox")) << "the one box of the first update";
    Grab(display, origin, "upgrade-server-stopped.png");
    EXPECT_TRUE(program.Running());
}

}  // namespace
