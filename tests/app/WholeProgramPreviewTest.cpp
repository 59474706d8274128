// The whole program under Xvfb against a local content server: a click on a Wink plays its movie
// in the pane (two screen grabs a second apart show the square drawn and moved), and Install
// puts the pack's files into the content store. The grabs stay in ZEPHYRINE_ARTIFACTS.
#include "WholeProgram.h"

#include <gtest/gtest.h>

using namespace zephyrine::wholetest;

namespace {

const QColor kSquare(0xE0, 0x20, 0x20);

TEST(WholeProgramPreviewTest, ClickedWinkPlaysInThePaneAndInstalls) {
    const std::string bin = Env("ZEPHYRINE_BIN");
    const std::string artifacts = Env("ZEPHYRINE_ARTIFACTS");
    ASSERT_FALSE(bin.empty());
    fs::create_directories(artifacts);
    TTempFolder app, site, home;

    // The program in a folder of its own, so that its catalogue is the test's.
    CopyProgram(bin, app);
    std::string catalogue = "<WinksList><Movies>";
    for (int i = 0; i < 12; ++i)
        catalogue += "<Wink WinkName=\"Square " + std::to_string(i) +
                     "\" DownloadUrl=\"square.cab\" SwfUrl=\"square.swf\"/>";
    WriteText(app / "WinksList.dat", catalogue + "</Movies></WinksList>");

    fs::create_directories(site / "download/previewback");
    ASSERT_EQ(zephyrine::mediatest::Run({bin + "/zephyrine-swfwriter",
                                         site / "download/previewback/square.swf", "--colour",
                                         "E02020", "--size", "60"}),
              0);
    WriteText(home / "pack/square.xml", "<content/>");
    ASSERT_EQ(zephyrine::mediatest::Run({"gcab", "-c", site / "download/square.cab", "square.xml"},
                                        home / "pack"),
              0);
    TLocalHttpServer server(site.Path());

    const TXvfb xvfb(home / "xvfb.log");
    const std::string display = xvfb.Display();
    ASSERT_FALSE(display.empty()) << ReadText(home / "xvfb.log");

    TProcess program({app / "zephyrine"},
                     {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                      "ZEPHYRINE_CONTENT_ROOT=" + server.Root(), "ZEPHYRINE_MESSAGE_BOX=stderr",
                      "ZEPHYRINE_TRACE=stderr", "XDG_RUNTIME_DIR=" + home.Path().string(),
                      "XDG_DATA_HOME=" + home / "data", "XDG_CACHE_HOME=" + home / "cache",
                      "QTWEBENGINE_DISABLE_SANDBOX=1"},
                     home / "program.log");
    TWitness witness(home / "program.log");
    const TPoint origin = WaitForWindow(display, "^Zephyrine$");
    ASSERT_GE(origin.x, 0) << witness.Report("the program's window");
    const int x = origin.x, y = origin.y;
    // The tree is filled before the window reports the count.
    ASSERT_TRUE(witness.AwaitLine("Status: 12 Winks of MSN Messenger in the list."));
    // The window is made anew when the player joins it; a click waits for the player.
    ASSERT_TRUE(witness.AwaitLine("PlayerReady: yes"));

    // A click on an item in the tree.
    Capture({"xdotool", "mousemove", std::to_string(x + 60), std::to_string(y + 100), "click", "1"},
            display);

    const auto first =
        AwaitSquare(witness, display, origin, kSquare, artifacts + "/preview-1.png");
    ASSERT_TRUE(first.has_value()) << witness.Report("the movie drawn in the pane");
    ASSERT_TRUE(AwaitSquareMoved(witness, display, origin, kSquare, *first,
                                 artifacts + "/preview-2.png"))
        << witness.Report("the square moved");
    const auto second =
        FindSquare(QImage(QString::fromStdString(artifacts + "/preview-2.png")), kSquare);
    ASSERT_TRUE(second.has_value());
    EXPECT_NEAR(first->bottom - first->top, second->bottom - second->top, 3);
    EXPECT_GT(first->bottom - first->top, 40) << "a 60-pixel square, scaled to the pane";

    // Install: the pack lands in the content store.
    Capture({"xdotool", "mousemove", std::to_string(x + kPaneLeft + 45),
             std::to_string(y + kPaneHeight + 22), "click", "1"},
            display);
    const std::string stored = home / "data/messenger-content/square/square.xml";
    EXPECT_TRUE(witness.Await("the pack in the content store", [&] { return fs::exists(stored); }));
    EXPECT_TRUE(witness.Await("the status \"Square N installed successfully.\"", [&] {
        const std::string trace = witness.Trace();
        const auto at = trace.find("Status: Square ");
        return at != std::string::npos &&
               trace.find(" installed successfully.\n", at) != std::string::npos;
    }));
    Capture({"import", "-display", display, "-window", "root", "-crop",
             "618x375+" + std::to_string(x) + "+" + std::to_string(y),
             witness.Shot(artifacts + "/after-install.png")},
            display);
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(witness.Trace().find("MessageBox["), std::string::npos)
        << witness.Report("no message box");
}

}  // namespace
