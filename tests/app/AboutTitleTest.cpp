// The program under Xvfb with the X11 platform: the about box's title bar is exactly its caption,
// "About Zephyrine " (with its trailing blank); Qt appends nothing to it.
#include "WholeProgram.h"

#include <gtest/gtest.h>

using namespace zephyrine::wholetest;

namespace {

// btnAbout's centre in the window: the button bar lies above the status bar.
constexpr int kAboutX = kPaneLeft + 178 + 40;
constexpr int kAboutY = 375 - 19 - 44 + 10 + 12;

TEST(AboutTitleTest, TitleBarIsTheCaptionAlone) {
    const std::string bin = Env("ZEPHYRINE_BIN");
    ASSERT_FALSE(bin.empty());
    TTempFolder app, home;
    CopyProgram(bin, app);
    WriteText(app / "WinksList.dat",
              "<WinksList><A><Wink WinkName=\"W\" DownloadUrl=\"w.cab\" SwfUrl=\"w.swf\"/></A>"
              "</WinksList>");
    const TXvfb xvfb(home / "xvfb.log");
    const std::string display = xvfb.Display();
    ASSERT_FALSE(display.empty()) << ReadText(home / "xvfb.log");
    TProcess program({app / "zephyrine"},
                     {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "ZEPHYRINE_MESSAGE_BOX=stderr",
                      "XDG_RUNTIME_DIR=" + home.Path().string(), "XDG_DATA_HOME=" + home / "data",
                      "XDG_CACHE_HOME=" + home / "cache", "QTWEBENGINE_DISABLE_SANDBOX=1"},
                     home / "program.log");
    const TPoint origin = WaitForWindow(display, "^Zephyrine$");
    ASSERT_GE(origin.x, 0) << ReadText(home / "program.log");
    // The window may not take input yet when it first shows: click until the box opens (it is
    // modal, so a click after that reaches nothing).
    std::string about;
    const bool opened = zephyrine::test::Eventually(
        [&] {
            Capture({"xdotool", "mousemove", std::to_string(origin.x + kAboutX),
                     std::to_string(origin.y + kAboutY), "click", "1"},
                    display);
            about = Capture({"xdotool", "search", "--onlyvisible", "--name", "^About Zephyrine"},
                            display);
            return !about.empty();
        },
        kStartTimeoutSeconds * 1000, 250);
    ASSERT_TRUE(opened) << Capture({"xwininfo", "-root", "-tree"}, display);
    // The title a window manager draws is _NET_WM_NAME; WM_NAME is the same in Latin-1.
    about = about.substr(0, about.find('\n'));
    EXPECT_EQ(Capture({"xprop", "-id", about, "_NET_WM_NAME", "WM_NAME"}, display),
              "_NET_WM_NAME(UTF8_STRING) = \"About Zephyrine \"\n"
              "WM_NAME(STRING) = \"About Zephyrine \"\n");
}

}  // namespace
