// Helpers of the whole-program tests: child processes, commands whose output is read, an Xvfb
// display, the program's window on it, and coloured squares found in screen grabs.
#pragma once

#include "../platform/LocalHttpServer.h"

#include <QColor>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zephyrine::wholetest {

using namespace zephyrine::mediatest;
namespace fs = std::filesystem;

constexpr int kPaneLeft = 185;  // the tree panel's width
constexpr int kPaneWidth = 618 - 185;
constexpr int kPaneHeight = 375 - 19 - 44;  // above the button bar and the status bar
constexpr int kStartTimeoutSeconds = 60;

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The program in a folder of its own (its AppFolder), beside the player it loads.
inline std::string CopyProgram(const std::string& bin, const TTempFolder& app) {
    fs::copy_file(bin + "/zephyrine", app / "zephyrine");
    fs::permissions(app / "zephyrine", fs::perms::owner_all);
    fs::create_symlink(bin + "/libzephyrine_flash.so", app / "libzephyrine_flash.so");
    fs::create_directory_symlink(bin + "/ruffle", app / "ruffle");
    return app / "zephyrine";
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
    ~TProcess() { Stop(pid_); }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    bool Running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }
    pid_t Pid() const { return pid_; }

    // SIGTERM, then SIGKILL after five seconds; reaps the process when it is our child.
    static void Stop(pid_t pid) {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        for (int i = 0; i < 50 && Alive(pid); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (Alive(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

  private:
    // Running: neither ended nor a zombie (ours are reaped here).
    static bool Alive(pid_t pid) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string self, comm, state;
        stat >> self >> comm >> state;
        return stat && state != "Z";
    }

    pid_t pid_ = -1;
};

// Output of a command (no shell), empty when it fails.
inline std::string Capture(std::vector<std::string> args, const std::string& display) {
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

// An Xvfb server on a display it picks itself.
class TXvfb {
  public:
    explicit TXvfb(const std::string& log) {
        int fd = -1;
        process_ = std::make_unique<TProcess>(
            std::vector<std::string>{"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp"},
            std::vector<std::string>{}, log, &fd);
        std::string number;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            number += c;
        close(fd);
        if (!number.empty()) display_ = ":" + number;
    }
    const std::string& Display() const { return display_; }  // "" when it did not start

  private:
    std::unique_ptr<TProcess> process_;
    std::string display_;
};

struct TPoint {
    int x = -1, y = -1;
};

// The top-left corner of the first visible window whose name matches the pattern, waiting for
// it to appear; x is -1 when none does.
inline TPoint WaitForWindow(const std::string& display, const std::string& namePattern) {
    std::string window;
    for (int i = 0; i < kStartTimeoutSeconds * 10 && window.empty(); ++i) {
        window = Capture({"xdotool", "search", "--onlyvisible", "--name", namePattern}, display);
        if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (window.empty()) return {};
    window = window.substr(0, window.find('\n'));
    const std::string geometry =
        Capture({"xdotool", "getwindowgeometry", "--shell", window}, display);
    const auto field = [&](const std::string& name) {
        const auto at = geometry.find(name + "=");
        return at == std::string::npos ? -1 : std::stoi(geometry.substr(at + name.size() + 1));
    };
    return {field("X"), field("Y")};
}

// A screen grab of the preview pane of the window at origin, kept as artifacts/name.
inline QImage GrabPane(const std::string& display, TPoint origin, const std::string& file) {
    const std::string crop = std::to_string(kPaneWidth) + "x" + std::to_string(kPaneHeight) + "+" +
                             std::to_string(origin.x + kPaneLeft) + "+" + std::to_string(origin.y);
    fs::remove(file);
    Capture({"import", "-display", display, "-window", "root", "-crop", crop, file}, display);
    return QImage(QString::fromStdString(file));
}

struct TBox {
    int left, right, top, bottom, pixels;
};

inline std::optional<TBox> FindSquare(const QImage& image, const QColor& colour) {
    TBox b{image.width(), -1, image.height(), -1, 0};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 40 &&
                std::abs(c.green() - colour.green()) < 40 &&
                std::abs(c.blue() - colour.blue()) < 40) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                ++b.pixels;
            }
        }
    if (b.pixels < 500) return std::nullopt;
    return b;
}

}  // namespace zephyrine::wholetest
