// Helpers of the whole-program tests: child processes, commands whose output is read, an Xvfb
// display, the program's window on it, and coloured squares found in screen grabs.
#pragma once

#include "support/TestWait.h"
#include "support/ColourSquare.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
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
constexpr int kWaitPollMs = 100;
constexpr std::size_t kReportedStatusTexts = 10;
constexpr std::size_t kReportedTraceLines = 80;

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

// A child process with its own environment additions ("NAME=value") and both output streams
// appended to log; stopped on destruction.
class TProcess {
  public:
    TProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::string& log)
        : child_(args, Options(env, log)) {}
    bool Running() { return child_.Running(); }
    pid_t Pid() const { return child_.Pid(); }

    // Ends a process that need not be ours (one a launcher started, say).
    static void Stop(pid_t pid) { base::StopProcess(pid); }

  private:
    static base::TChildOptions Options(const std::vector<std::string>& env,
                                       const std::string& log) {
        base::TChildOptions options;
        options.Environment = env;
        options.Output = base::TRedirect::AppendTo(log);
        options.ErrorToOutput = true;
        return options;
    }
    base::TChildProcess child_;
};

// Output of a command (no shell) on the display, empty when it fails.
inline std::string Capture(const std::vector<std::string>& args, const std::string& display) {
    base::TChildOptions options;
    options.Environment = {"DISPLAY=" + display};
    options.Output = base::TRedirect::ToPipe();
    try {
        base::TChildProcess child(args, options);
        std::string out = base::TChildProcess::ReadToEnd(child.OutputFd());
        return child.Wait() == 0 ? out : std::string();
    } catch (const std::runtime_error&) {
        return {};
    }
}

// An Xvfb server on a display it picks itself and names on its standard output.
class TXvfb {
  public:
    explicit TXvfb(const std::string& log)
        : process_({"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                   Options(log)) {
        const std::string number = process_.ReadOutputLine().value_or("");
        if (!number.empty()) display_ = ":" + number;
    }
    const std::string& Display() const { return display_; }  // "" when it did not start

  private:
    static base::TChildOptions Options(const std::string& log) {
        base::TChildOptions options;
        options.Output = base::TRedirect::ToPipe();
        options.ErrorOutput = base::TRedirect::AppendTo(log);
        return options;
    }
    base::TChildProcess process_;
    std::string display_;
};

struct TPoint {
    int x = -1, y = -1;
};

// The top-left corner of the first visible window whose name matches the pattern, waiting for
// it to appear; x is -1 when none does.
inline TPoint WaitForWindow(const std::string& display, const std::string& namePattern) {
    // The window found may be gone a moment later: Qt makes the top-level window anew when the
    // browser engine's view joins it. So the search counts only once its geometry is read.
    std::string geometry;
    const auto field = [&](const std::string& name) {
        const auto at = geometry.find(name + "=");
        return at == std::string::npos ? -1 : std::stoi(geometry.substr(at + name.size() + 1));
    };
    const bool found = test::Eventually(
        [&] {
            std::string window =
                Capture({"xdotool", "search", "--onlyvisible", "--name", namePattern}, display);
            if (window.empty()) return false;
            window = window.substr(0, window.find('\n'));
            geometry = Capture({"xdotool", "getwindowgeometry", "--shell", window}, display);
            return field("X") >= 0 && field("Y") >= 0;
        },
        kStartTimeoutSeconds * 1000, 100);
    if (!found) return {};
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

// What a whole-program test waits for, and on failure what it waited for and what the program had
// done by then: its last status texts, the end of its trace (ZEPHYRINE_TRACE=stderr) and the
// screen grabs taken so far.
class TWitness {
  public:
    explicit TWitness(std::string trace) : trace_(std::move(trace)) {}

    template <typename F>
    ::testing::AssertionResult Await(const std::string& what, F done,
                                     int waitMs = kStartTimeoutSeconds * 1000) const {
        if (test::Eventually(done, waitMs, kWaitPollMs)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << Report(what);
    }
    // A line of the trace, whole.
    ::testing::AssertionResult AwaitLine(const std::string& line,
                                         int waitMs = kStartTimeoutSeconds * 1000) const {
        return Await(
            "the trace line \"" + line + "\"",
            [&] { return ("\n" + Trace()).find("\n" + line + "\n") != std::string::npos; },
            waitMs);
    }
    std::string Trace() const { return ReadText(trace_); }
    // A grab kept for the report; returns its path.
    const std::string& Shot(const std::string& path) {
        shots_.push_back(path);
        return shots_.back();
    }

    std::string Report(const std::string& waitedFor) const {
        std::vector<std::string> lines, statuses;
        std::istringstream in(Trace());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Status: ", 0) == 0) statuses.push_back(line);
            lines.push_back(line);
        }
        std::ostringstream out;
        out << "waited for: " << waitedFor << "\nlast status texts:\n";
        for (std::size_t i = statuses.size() - std::min(statuses.size(), kReportedStatusTexts);
             i < statuses.size(); ++i)
            out << "  " << statuses[i] << "\n";
        out << "trace " << trace_ << " (last " << kReportedTraceLines << " lines):\n";
        for (std::size_t i = lines.size() - std::min(lines.size(), kReportedTraceLines);
             i < lines.size(); ++i)
            out << "  " << lines[i] << "\n";
        out << "screen grabs:";
        for (const auto& shot : shots_)
            out << "\n  " << shot;
        return out.str();
    }

  private:
    std::string trace_;
    std::vector<std::string> shots_;
};

// Grabs the pane until the coloured square is found in it; each grab is kept as file.
inline std::optional<TBox> AwaitSquare(TWitness& witness, const std::string& display,
                                       TPoint origin, const QColor& colour,
                                       const std::string& file) {
    std::optional<TBox> found;
    test::Eventually(
        [&] { return (found = FindSquare(GrabPane(display, origin, file), colour)).has_value(); },
        kStartTimeoutSeconds * 1000, kWaitPollMs);
    witness.Shot(file);
    return found;
}

// Grabs the pane until the square stands elsewhere than at first: the movie plays.
inline bool AwaitSquareMoved(TWitness& witness, const std::string& display, TPoint origin,
                             const QColor& colour, const TBox& first, const std::string& file) {
    const bool moved = test::Eventually(
        [&] {
            const auto now = FindSquare(GrabPane(display, origin, file), colour);
            return now && now->left != first.left;
        },
        kStartTimeoutSeconds * 1000, kWaitPollMs);
    witness.Shot(file);
    return moved;
}

}  // namespace zephyrine::wholetest
