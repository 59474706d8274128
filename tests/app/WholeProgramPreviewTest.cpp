// The whole program under Xvfb against a local content server: a click on a Wink plays its movie
// in the pane (two screen grabs a second apart show the square drawn and moved), and Install
// puts the pack's files into the content store. The grabs stay in ZEPHYRINE_ARTIFACTS.
#include "../platform/LocalHttpServer.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

using namespace zephyrine::mediatest;
namespace fs = std::filesystem;

namespace {

constexpr int kPaneLeft = 185;  // the tree panel's width
constexpr int kPaneWidth = 618 - 185;
constexpr int kPaneHeight = 375 - 19 - 44;  // above the button bar and the status bar
constexpr int kStartTimeoutSeconds = 60;
const QColor kSquare(0xE0, 0x20, 0x20);

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A child process with its own environment additions, stopped on destruction.
class TProcess {
  public:
    TProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::string& log, int* readFd = nullptr) {
        int pipeFds[2] = {-1, -1};
        if (readFd && pipe(pipeFds) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& e : env)
                putenv(const_cast<char*>(e.c_str()));
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(out, 1);
            dup2(out, 2);
            if (readFd) close(pipeFds[0]);
            std::vector<char*> argv;
            for (const auto& a : args) {
                std::string arg = a;
                if (readFd && arg == "{fd}") arg = std::to_string(pipeFds[1]);
                argv.push_back(strdup(arg.c_str()));
            }
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (readFd) {
            close(pipeFds[1]);
            *readFd = pipeFds[0];
        }
    }
    ~TProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (waitpid(pid_, nullptr, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    bool Running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_ = -1;
};

// Output of a command (no shell), empty when it fails.
std::string Capture(std::vector<std::string> args, const std::string& display) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        dup2(fds[1], 1);
        close(fds[0]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
}

struct TBox {
    int left, right, top, bottom, pixels;
};

std::optional<TBox> FindSquare(const QImage& image) {
    TBox b{image.width(), -1, image.height(), -1, 0};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - kSquare.red()) < 40 &&
                std::abs(c.green() - kSquare.green()) < 40 &&
                std::abs(c.blue() - kSquare.blue()) < 40) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                ++b.pixels;
            }
        }
    if (b.pixels < 500) return std::nullopt;
    return b;
}

TEST(WholeProgramPreviewTest, ClickedWinkPlaysInThePaneAndInstalls) {
    const std::string bin = Env("ZEPHYRINE_BIN");
    const std::string artifacts = Env("ZEPHYRINE_ARTIFACTS");
    ASSERT_FALSE(bin.empty());
    fs::create_directories(artifacts);
    TTempFolder app, site, home;

    // The program in a folder of its own, so that its catalogue is the test's.
    fs::copy_file(bin + "/zephyrine", app / "zephyrine");
    fs::permissions(app / "zephyrine", fs::perms::owner_all);
    fs::create_symlink(bin + "/libzephyrine_flash.so", app / "libzephyrine_flash.so");
    fs::create_directory_symlink(bin + "/ruffle", app / "ruffle");
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

    // Xvfb picks a free display and writes its number to the pipe.
    int displayFd = -1;
    TProcess xvfb({"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                  {}, home / "xvfb.log", &displayFd);
    std::string number;
    char c;
    while (read(displayFd, &c, 1) == 1 && c != '\n')
        number += c;
    close(displayFd);
    ASSERT_FALSE(number.empty()) << ReadText(home / "xvfb.log");
    const std::string display = ":" + number;

    TProcess program({app / "zephyrine"},
                     {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                      "ZEPHYRINE_CONTENT_ROOT=" + server.Root(), "ZEPHYRINE_MESSAGE_BOX=stderr",
                      "XDG_RUNTIME_DIR=" + home.Path().string(), "XDG_DATA_HOME=" + home / "data",
                      "XDG_CACHE_HOME=" + home / "cache", "QTWEBENGINE_DISABLE_SANDBOX=1"},
                     home / "program.log");
    std::string window;
    for (int i = 0; i < kStartTimeoutSeconds * 10 && window.empty(); ++i) {
        window = Capture({"xdotool", "search", "--onlyvisible", "--name", "^Zephyrine$"}, display);
        if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(window.empty()) << ReadText(home / "program.log");
    window = window.substr(0, window.find('\n'));
    const std::string geometry =
        Capture({"xdotool", "getwindowgeometry", "--shell", window}, display);
    const auto field = [&](const std::string& name) {
        const auto at = geometry.find(name + "=");
        return at == std::string::npos ? -1 : std::stoi(geometry.substr(at + name.size() + 1));
    };
    const int x = field("X"), y = field("Y");
    ASSERT_GE(x, 0) << geometry;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // A click on an item in the tree.
    Capture({"xdotool", "mousemove", std::to_string(x + 60), std::to_string(y + 100), "click", "1"},
            display);

    const std::string crop = std::to_string(kPaneWidth) + "x" + std::to_string(kPaneHeight) + "+" +
                             std::to_string(x + kPaneLeft) + "+" + std::to_string(y);
    const auto grab = [&](const std::string& name) {
        const std::string file = artifacts + "/" + name;
        fs::remove(file);
        Capture({"import", "-display", display, "-window", "root", "-crop", crop, file}, display);
        return QImage(QString::fromStdString(file));
    };
    std::optional<TBox> first;
    for (int i = 0; i < 120 && !first; ++i) {
        first = FindSquare(grab("preview-1.png"));
        if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(first.has_value()) << "the movie is not drawn in the pane\n"
                                   << ReadText(home / "program.log");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto second = FindSquare(grab("preview-2.png"));
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(first->left, second->left) << "the square did not move";
    EXPECT_NEAR(first->bottom - first->top, second->bottom - second->top, 3);
    EXPECT_GT(first->bottom - first->top, 40) << "a 60-pixel square, scaled to the pane";

    // Install: the pack lands in the content store.
    Capture({"xdotool", "mousemove", std::to_string(x + kPaneLeft + 45),
             std::to_string(y + kPaneHeight + 22), "click", "1"},
            display);
    const std::string stored = home / "data/messenger-content/square/square.xml";
    for (int i = 0; i < 300 && !fs::exists(stored); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(fs::exists(stored)) << ReadText(home / "program.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Capture({"import", "-display", display, "-window", "root", "-crop",
             "618x375+" + std::to_string(x) + "+" + std::to_string(y),
             artifacts + "/after-install.png"},
            display);
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(ReadText(home / "program.log").find("MessageBox["), std::string::npos)
        << ReadText(home / "program.log");
}

}  // namespace
