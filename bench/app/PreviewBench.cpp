// Preview figures: the program's memory without a preview (the real program, offscreen), and
// in a window driven here: the time from a click on an item to the first frame drawn, for the
// first preview of the process and for later ones, with the memory before and after the first.
// Movies are made by zephyrine-swfwriter and served by a local HTTP server.
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"
#include "platform/LazyFlash.h"
#include "app/WinksGlobal.h"
#include "app/uMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <benchmark/benchmark.h>

#include <dirent.h>

#include <fstream>
#include <memory>

using namespace zephyrine;

namespace {

constexpr int kFrameTimeoutMs = 60000;
constexpr int kProgramSettleMs = 4000;

double RssMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// The resident memory of every descendant of pid (the browser engine's helper processes).
double ChildrenRssMiB(pid_t pid) {
    double total = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        const pid_t child = static_cast<pid_t>(std::atoi(e->d_name));
        if (child <= 0) continue;
        pid_t p = child;
        for (int depth = 0; depth < 8 && p > 1; ++depth) {
            std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
            std::string comm, state;
            pid_t self = 0, parent = 0;
            stat >> self >> comm >> state >> parent;
            if (parent == pid) {
                total += RssMiB(child);
                break;
            }
            p = parent;
        }
    }
    if (proc) closedir(proc);
    return total;
}

struct TWorld {
    mediatest::TTempFolder app, site, home;
    std::unique_ptr<mediatest::TLocalHttpServer> server;
    std::unique_ptr<app::TGlobal> global;
    std::unique_ptr<app::TfrmMainForm> window;
    platform::TLazyFlash* flash = nullptr;
    bool firstDone = false;

    TWorld() {
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
        p.CreateFlash = [this](QWidget* parent) {
            flash = new platform::TLazyFlash(parent, platform::TFlashSettings{});
            return flash;
        };
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{server->Root(), server->Root()});
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

TWorld& World() {
    static TWorld world;
    return world;
}

// The real program, started offscreen against the local server, with no preview shown.
void BM_ProgramRssWithoutPreview(benchmark::State& state) {
    const std::string bin = QCoreApplication::applicationDirPath().toStdString();
    const std::string root = World().server->Root();
    for (auto _ : state) {
        mediatest::TTempFolder home;
        base::TChildOptions options;
        options.Environment = {"QT_QPA_PLATFORM=offscreen", "ZEPHYRINE_CONTENT_ROOT=" + root,
                               "ZEPHYRINE_MESSAGE_BOX=stderr",
                               "XDG_RUNTIME_DIR=" + home.Path().string(),
                               "XDG_DATA_HOME=" + home / "data"};
        options.ErrorOutput = base::TRedirect::ToNull();
        base::TChildProcess program({bin + "/zephyrine"}, options);
        QTest::qWait(kProgramSettleMs);
        state.counters["rss_MiB"] = RssMiB(program.Pid());
    }
}
BENCHMARK(BM_ProgramRssWithoutPreview)->Iterations(1)->Unit(benchmark::kMillisecond);

// The first preview of the process: the player's library, the browser engine, the page and
// the Ruffle wasm are loaded on the way.
void BM_FirstPreview(benchmark::State& state) {
    TWorld& world = World();
    const double before = RssMiB(getpid());
    for (auto _ : state) {
        const double ms = world.ClickToFirstFrame(0);
        if (ms < 0) state.SkipWithError("no first frame");
        state.SetIterationTime(ms / 1000);
    }
    QTest::qWait(1000);
    state.counters["rss_before_MiB"] = before;
    state.counters["rss_after_MiB"] = RssMiB(getpid());
    state.counters["helpers_rss_MiB"] = ChildrenRssMiB(getpid());
}
BENCHMARK(BM_FirstPreview)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Later previews, alternating between two movies in the page already loaded.
void BM_LaterPreview(benchmark::State& state) {
    TWorld& world = World();
    int item = 1;
    for (auto _ : state) {
        const double ms = world.ClickToFirstFrame(item);
        if (ms < 0) state.SkipWithError("no first frame");
        state.SetIterationTime(ms / 1000);
        item = 1 - item;
        QTest::qWait(100);
    }
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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    World().window.reset();
    // The web engine may end the process before static destructors run; stop the server now.
    World().server.reset();
    return 0;
}
