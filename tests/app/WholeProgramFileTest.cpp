// The whole program opening the demo content files: started with the .mca under Xvfb, the .mco
// dropped on the open window by a real drag (zephyrine-drag-source, moved by xdotool), and every
// case of extension opened by `gio open` through the association the program registered. Each
// time the movie plays, the status reads " installed successfully.", the pack is in the content
// store and the embedded server logged its request (ZEPHYRINE_TRACE=stderr). Grabs go to
// ZEPHYRINE_ARTIFACTS.
#include "WholeProgram.h"

#include <gtest/gtest.h>

using namespace zephyrine::wholetest;

namespace {

const QColor kRed(0xE0, 0x20, 0x20);
const QColor kBlue(0x20, 0x60, 0xE0);

class WholeProgramFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin = Env("ZEPHYRINE_BIN");
        artifacts = Env("ZEPHYRINE_ARTIFACTS");
        ASSERT_FALSE(bin.empty());
        fs::create_directories(artifacts);
        program = CopyProgram(bin, app);
        WriteText(app / "WinksList.dat", "<WinksList><Movies/></WinksList>");
    }

    std::vector<std::string> Environment(const std::string& display) const {
        return {"DISPLAY=" + display,
                display.empty() ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=xcb",
                "ZEPHYRINE_TRACE=stderr", "ZEPHYRINE_SERVER_PORT=0",
                "ZEPHYRINE_MESSAGE_BOX=stderr",
                "XDG_RUNTIME_DIR=" + home.Path().string(),
                "XDG_DATA_HOME=" + home / "data",
                "XDG_CACHE_HOME=" + home / "cache",
                "TMPDIR=" + home.Path().string(),
                "QTWEBENGINE_DISABLE_SANDBOX=1"};
    }
    std::string Log() const { return ReadText(home / "program.log"); }
    std::string Stored(const std::string& name) const {
        return home / ("data/messenger-content/temppack11/" + name);
    }

    // The movie in the pane, drawn and moving; then the install, end to end.
    void ExpectPlayedAndInstalled(const std::string& display, TPoint origin, const QColor& colour,
                                  const std::string& name, const std::string& xml) {
        const auto first =
            AwaitSquare(witness, display, origin, colour, artifacts + "/" + name + "-1.png");
        ASSERT_TRUE(first.has_value()) << witness.Report("the movie drawn in the pane");
        EXPECT_TRUE(AwaitSquareMoved(witness, display, origin, colour, *first,
                                     artifacts + "/" + name + "-2.png"))
            << witness.Report("the square moved");
        ExpectInstalled(xml);
        Capture({"import", "-display", display, "-window", "root", "-crop",
                 "618x375+" + std::to_string(origin.x) + "+" + std::to_string(origin.y),
                 witness.Shot(artifacts + "/" + name + "-window.png")},
                display);
    }

    void ExpectInstalled(const std::string& xml) const {
        EXPECT_TRUE(witness.AwaitLine("Status:  installed successfully."));
        EXPECT_TRUE(witness.Await("the pack in the content store",
                                  [&] { return fs::exists(Stored(xml)); }));
        // The server's entries reach the trace on the window's thread; the request's may follow
        // the status text.
        EXPECT_TRUE(witness.Await("the server's log entry of GET /temppack11.cab", [&] {
            const std::string log = Log();
            const auto request = log.find("ServerLog: GET\t");
            return request != std::string::npos &&
                   log.find("\t/temppack11.cab\t", request) != std::string::npos;
        }));
        EXPECT_EQ(Log().find("MessageBox["), std::string::npos) << witness.Report("no message box");
    }

    TTempFolder app, home;
    std::string bin, artifacts, program;
    TWitness witness{home / "program.log"};
};

TEST_F(WholeProgramFileTest, StartedWithTheDemoMca) {
    const TXvfb xvfb(home / "xvfb.log");
    ASSERT_FALSE(xvfb.Display().empty());
    TProcess run({program, bin + "/demo-content/demo-red.mca"}, Environment(xvfb.Display()),
                 home / "program.log");
    const TPoint origin = WaitForWindow(xvfb.Display(), "^Zephyrine$");
    ASSERT_GE(origin.x, 0) << witness.Report("the program's window");
    ExpectPlayedAndInstalled(xvfb.Display(), origin, kRed, "file-mca", "demo-red.xml");
    EXPECT_TRUE(run.Running());
}

TEST_F(WholeProgramFileTest, DemoMcoDroppedOnTheOpenWindow) {
    const TXvfb xvfb(home / "xvfb.log");
    const std::string display = xvfb.Display();
    ASSERT_FALSE(display.empty());
    TProcess run({program}, Environment(display), home / "program.log");
    const TPoint origin = WaitForWindow(display, "^Zephyrine$");
    ASSERT_GE(origin.x, 0) << witness.Report("the program's window");
    // The player joins the window once it is shown, and the window is made anew for it then: a
    // drop before that may land on the window that goes.
    ASSERT_TRUE(witness.AwaitLine("PlayerReady: yes"));
    TProcess source({bin + "/zephyrine-drag-source", bin + "/demo-content/demo-blue.mco"},
                    {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"}, home / "drag.log");
    const TPoint from = WaitForWindow(display, "^drag-source$");
    ASSERT_GE(from.x, 0) << ReadText(home / "drag.log");
    Capture({"xdotool", "mousemove", std::to_string(from.x + 60), std::to_string(from.y + 60),
             "mousedown", "1"},
            display);
    const auto said = [&](const std::string& line) {
        return witness.Await("the drag source's \"" + line + "\"", [&] {
            return ReadText(home / "drag.log").find(line) != std::string::npos;
        });
    };
    ASSERT_TRUE(said("drag started")) << ReadText(home / "drag.log");
    // One move into the pane: the window's acceptance then answers that very position, and the
    // drop follows it (after moves in steps an earlier position's answer could come first).
    const int toX = origin.x + kPaneLeft + 200, toY = origin.y + 150;
    Capture({"xdotool", "mousemove", std::to_string(toX), std::to_string(toY)}, display);
    ASSERT_TRUE(said("drag accepted")) << ReadText(home / "drag.log");
    Capture({"xdotool", "mouseup", "1"}, display);
    EXPECT_TRUE(said("drag ended: copied")) << ReadText(home / "drag.log");
    ExpectPlayedAndInstalled(display, origin, kBlue, "drop-mco", "demo-blue.xml");
    if (HasFailure()) ADD_FAILURE() << "the drag source's log:\n" << ReadText(home / "drag.log");
}

TEST_F(WholeProgramFileTest, GioOpenStartsTheProgramWithTheFile) {
    // The first start registers the association, with its icon. The registration ends with the
    // desktop database naming the program's entry; stopped before that, gio finds no handler.
    {
        TProcess first({program}, Environment(""), home / "first.log");
        const TWitness start(home / "first.log");
        ASSERT_TRUE(start.Await("the desktop database naming zephyrine.desktop", [&] {
            return ReadText(home / "data/applications/mimeinfo.cache").find("zephyrine.desktop") !=
                   std::string::npos;
        }));
    }
    const std::string entry = ReadText(home / "data/applications/zephyrine.desktop");
    EXPECT_NE(entry.find("Exec=\"" + program + "\" %f\n"), std::string::npos) << entry;
    const std::string icon = home / "data/icons/hicolor/scalable/apps/zephyrine.svg";
    EXPECT_NE(entry.find("Icon=" + icon + "\n"), std::string::npos) << entry;
    EXPECT_EQ(ReadText(icon).rfind("<svg ", 0), 0u);

    const struct {
        const char* name;
        const char* demo;
        const char* xml;
    } files[] = {{"a.mca", "demo-red.mca", "demo-red.xml"},
                 {"B.MCA", "demo-red.mca", "demo-red.xml"},
                 {"c.mco", "demo-blue.mco", "demo-blue.xml"},
                 {"D.MCO", "demo-blue.mco", "demo-blue.xml"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        fs::remove_all(home / "data/messenger-content");
        fs::remove(home / "program.log");
        fs::copy_file(bin + "/demo-content/" + f.demo, home / f.name);
        {
            TProcess gio({"gio", "open", home / f.name}, Environment(""), home / "program.log");
            ASSERT_TRUE(witness.Await("gio open to end", [&] { return !gio.Running(); }));
        }
        ExpectInstalled(f.xml);
        // gio's child, the program, is found by its executable, which only this test runs.
        for (const auto& p : fs::directory_iterator("/proc")) {
            std::error_code ec;
            if (fs::read_symlink(p.path() / "exe", ec) == program)
                TProcess::Stop(std::stoi(p.path().filename().string()));
        }
    }
}

}  // namespace
