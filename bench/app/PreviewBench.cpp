// Preview figures, in a window driven here (offscreen) with movies made by zephyrine-swfwriter
// and served by a local HTTP server:
// - the first preview of a process, cold (clicked at once, nothing warmed) and after the window
//   has been idle 2 s (the player warms up once the window is shown), each in a process of its
//   own; for the idle one, the longest gap of a 10 ms UI timer from the showing to the click;
// - later previews, alternating between two movies;
// - memory while a preview plays: the program and each helper process of the browser engine
//   (PSS and RSS from /proc), and the real program without a preview.
#include "app/WinksGlobal.h"
#include "app/uMainForm.h"
#include "platform/LazyFlash.h"
#include "support/LocalHttpServer.h"
#include "support/AppTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

using namespace zephyrine;

namespace {

constexpr int kFrameTimeoutMs = 60000;
constexpr int kProgramSettleMs = 4000;
constexpr int kIdleMs = 2000;
constexpr int kUiTickMs = 10;
constexpr const char* kRoleOption = "--role=";

// One figure of /proc/PID/smaps_rollup ("Pss", "Rss") in MiB.
double SmapsMiB(pid_t pid, const std::string& field) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line))
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
    return 0;
}

pid_t ParentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');  // the command name may hold blanks
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

// The helper's role from its command line ("--type=renderer"), empty for no engine helper.
std::string HelperType(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    std::string cmdline((std::istreambuf_iterator<char>(in)), {});
    if (cmdline.find("QtWebEngineProcess") == std::string::npos) return {};
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    const auto at = cmdline.find("--type=");
    if (at == std::string::npos) return "other";
    std::string type = cmdline.substr(at + 7, cmdline.find(' ', at) - at - 7);
    if (cmdline.find("--utility-sub-type=") != std::string::npos) type += "-utility";
    return type;
}

// The browser engine's helper processes below pid, in the order /proc lists them.
std::vector<std::pair<pid_t, std::string>> Helpers(pid_t pid) {
    std::vector<std::pair<pid_t, std::string>> helpers;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        const pid_t candidate = static_cast<pid_t>(std::atoi(e->d_name));
        if (candidate <= 0) continue;
        bool below = false;
        for (pid_t p = ParentOf(candidate); p > 1 && !below; p = ParentOf(p))
            below = p == pid;
        if (!below) continue;
        const std::string type = HelperType(candidate);
        if (!type.empty()) helpers.emplace_back(candidate, type);
    }
    if (proc) closedir(proc);
    return helpers;
}

// Counters of this process and each helper: "<name>_pss_MiB", "<name>_rss_MiB".
std::map<std::string, double> MemoryFigures() {
    std::map<std::string, double> figures;
    figures["program_pss_MiB"] = SmapsMiB(getpid(), "Pss");
    figures["program_rss_MiB"] = SmapsMiB(getpid(), "Rss");
    double helpersPss = 0;
    int n = 0;
    for (const auto& [pid, type] : Helpers(getpid())) {
        const std::string name = "helper" + std::to_string(++n) + "_" + type;
        figures[name + "_pss_MiB"] = SmapsMiB(pid, "Pss");
        figures[name + "_rss_MiB"] = SmapsMiB(pid, "Rss");
        helpersPss += figures[name + "_pss_MiB"];
    }
    figures["helpers"] = n;
    figures["helpers_pss_MiB"] = helpersPss;
    figures["total_pss_MiB"] = helpersPss + figures["program_pss_MiB"];
    return figures;
}

// The longest gap between the ticks of a 10 ms timer on the UI thread while it lives.
class TTickWatch {
  public:
    TTickWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            maxGapMs_ = std::max(maxGapMs_, static_cast<double>(last_.nsecsElapsed()) / 1e6);
            last_.restart();
        });
        last_.start();
        timer_.start(kUiTickMs);
    }
    double MaxGapMs() const { return maxGapMs_; }

  private:
    QTimer timer_;
    QElapsedTimer last_;
    double maxGapMs_ = 0;
};

struct TWorld {
    mediatest::TTempFolder app, site;
    std::unique_ptr<mediatest::TLocalHttpServer> server;
    std::unique_ptr<app::TGlobal> global;
    std::unique_ptr<app::TfrmMainForm> window;
    platform::TLazyFlash* flash = nullptr;

    explicit TWorld(bool warmUp) {
        const std::string bin = QCoreApplication::applicationDirPath().toStdString();
        std::filesystem::create_directories(site / "download/previewback");
        for (const char* colour : {"E02020", "2020E0"})
            mediatest::Run({bin + "/zephyrine-swfwriter",
                            site / ("download/previewback/" + std::string(colour) + ".swf"),
                            "--colour", colour});
        server = std::make_unique<mediatest::TLocalHttpServer>(site.Path());
        mediatest::WriteText(app / "WinksList.dat",
                             "<WinksList><Shapes>"
                             "<Wink WinkName=\"Red\" DownloadUrl=\"r.cab\" SwfUrl=\"E02020.swf\"/>"
                             "<Wink WinkName=\"Blue\" DownloadUrl=\"b.cab\" SwfUrl=\"2020E0.swf\"/>"
                             "</Shapes></WinksList>");
        global = std::make_unique<app::TGlobal>(app.Path(), server->Root());
        platform::TPlatform p;
        p.CreateFlash = [this, warmUp](QWidget* parent) {
            flash = new platform::TLazyFlash(parent, platform::TFlashSettings{});
            if (warmUp) flash->WarmUpWhenShown();  // as the program does
            return flash;
        };
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{server->Root(), server->Root()});
    }

    void Show() {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) throw std::runtime_error("no window");
    }

    // A user's click on item i; the milliseconds until its first frame is drawn, -1 on failure.
    double ClickToFirstFrame(int item) {
        bool drawn = false, failed = false;
        const auto a =
            QObject::connect(flash, &platform::TLazyFlash::FirstFrameDrawn, [&] { drawn = true; });
        const auto b =
            QObject::connect(flash, &platform::TLazyFlash::MovieFailed, [&] { failed = true; });
        const QRect r = test::Parts(*window).treWinksList->visualRect(
            test::Parts(*window).treWinksListModel->ItemIndex(0, item));
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(test::Parts(*window).treWinksList->viewport(), Qt::LeftButton, {},
                          QPoint(r.right() - 4, r.center().y()));
        while (!drawn && !failed && t.elapsed() < kFrameTimeoutMs)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        QObject::disconnect(a);
        QObject::disconnect(b);
        return drawn ? ms : -1;
    }
};

// The worlds of the benchmarks run in this process; they go before the application object.
std::unique_ptr<TWorld> gSites, gLater;

// A role run in a process of its own: prints "name=value" lines on standard output.
int RunRole(const std::string& role) {
    std::map<std::string, double> out;
    if (role == "first-cold") {
        TWorld world(false);
        world.Show();
        TTickWatch watch;
        out["first_ms"] = world.ClickToFirstFrame(0);
        out["max_ui_gap_ms"] = watch.MaxGapMs();
    } else if (role == "first-after-idle") {
        TWorld world(true);
        QElapsedTimer shown;
        shown.start();
        TTickWatch watch;
        world.Show();
        bool warm = false;
        QObject::connect(world.flash, &platform::TLazyFlash::WarmedUp, [&] {
            out["warm_ms"] = static_cast<double>(shown.nsecsElapsed()) / 1e6;
            warm = true;
        });
        QTest::qWait(kIdleMs);
        out["max_ui_gap_ms"] = watch.MaxGapMs();
        out["warm_by_click"] = warm ? 1 : 0;
        out["first_ms"] = world.ClickToFirstFrame(0);
        QTest::qWait(1000);  // playing
        for (const auto& [name, value] : MemoryFigures())
            out[name] = value;
    } else {
        std::fprintf(stderr, "unknown role %s\n", role.c_str());
        return 2;
    }
    for (const auto& [name, value] : out)
        std::printf("%s=%.1f\n", name.c_str(), value);
    std::fflush(stdout);
    return 0;
}

// Runs this program in a role; its figures become the state's counters, "first_ms" its time.
void RunRoleChild(benchmark::State& state, const std::string& role) {
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    for (auto _ : state) {
        base::TChildOptions options;
        options.Output = base::TRedirect::ToPipe();
        options.ErrorOutput = base::TRedirect::ToNull();
        base::TChildProcess child({self, kRoleOption + role}, options);
        double first = -1;
        while (const auto line = child.ReadOutputLine()) {
            const auto eq = line->find('=');
            if (eq == std::string::npos) continue;
            const double value = std::stod(line->substr(eq + 1));
            state.counters[line->substr(0, eq)] = value;
            if (line->substr(0, eq) == "first_ms") first = value;
        }
        child.Wait();
        if (first < 0) {
            state.SkipWithError("no first frame");
            break;
        }
        state.SetIterationTime(first / 1000);
    }
}

// The real program, started offscreen against the local server, with no preview shown (the
// player warms up once it is shown).
void BM_ProgramWithoutPreview(benchmark::State& state) {
    if (!gSites) gSites = std::make_unique<TWorld>(false);
    const std::string bin = QCoreApplication::applicationDirPath().toStdString();
    for (auto _ : state) {
        mediatest::TTempFolder home;
        base::TChildOptions options;
        options.Environment = {
            "QT_QPA_PLATFORM=offscreen",        "ZEPHYRINE_CONTENT_ROOT=" + gSites->server->Root(),
            "ZEPHYRINE_MESSAGE_BOX=stderr",     "XDG_RUNTIME_DIR=" + home.Path().string(),
            "XDG_CACHE_HOME=" + home / "cache", "XDG_DATA_HOME=" + home / "data"};
        options.ErrorOutput = base::TRedirect::ToNull();
        base::TChildProcess program({bin + "/zephyrine"}, options);
        QTest::qWait(kProgramSettleMs);
        state.counters["program_pss_MiB"] = SmapsMiB(program.Pid(), "Pss");
        state.counters["program_rss_MiB"] = SmapsMiB(program.Pid(), "Rss");
        double helpers = 0;
        for (const auto& [pid, type] : Helpers(program.Pid()))
            helpers += SmapsMiB(pid, "Pss");
        state.counters["helpers_pss_MiB"] = helpers;
    }
}
BENCHMARK(BM_ProgramWithoutPreview)->Iterations(1)->Unit(benchmark::kMillisecond);

// The first preview of a process clicked at once: the player's library, the browser engine, the
// page and the player's code are all loaded on the way.
void BM_FirstPreviewCold(benchmark::State& state) {
    RunRoleChild(state, "first-cold");
}
BENCHMARK(BM_FirstPreviewCold)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The first preview after the window has been idle 2 s; the memory while it plays.
void BM_FirstPreviewAfterIdle(benchmark::State& state) {
    RunRoleChild(state, "first-after-idle");
}
BENCHMARK(BM_FirstPreviewAfterIdle)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Later previews, alternating between two movies in the page already loaded.
void BM_LaterPreview(benchmark::State& state) {
    if (!gLater) {
        gLater = std::make_unique<TWorld>(true);
        gLater->Show();
    }
    TWorld& world = *gLater;
    static const bool first = world.ClickToFirstFrame(0) >= 0;
    int item = 1;
    std::vector<double> times;
    for (auto _ : state) {
        const double ms = first ? world.ClickToFirstFrame(item) : -1;
        if (ms < 0) state.SkipWithError("no first frame");
        state.SetIterationTime(ms / 1000);
        times.push_back(ms);
        item = 1 - item;
        QTest::qWait(100);
    }
    // On a shared machine a few previews wait on other processes: the median is the figure.
    std::sort(times.begin(), times.end());
    if (!times.empty()) state.counters["median_ms"] = times[times.size() / 2];
}
BENCHMARK(BM_LaterPreview)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    mediatest::TTempFolder home;
    setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::TLazyFlash::PrepareProcess();
    QApplication application(argc, argv);
    if (argc == 2 && std::strncmp(argv[1], kRoleOption, std::strlen(kRoleOption)) == 0)
        return RunRole(argv[1] + std::strlen(kRoleOption));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gLater.reset();
    gSites.reset();
    return 0;
}
