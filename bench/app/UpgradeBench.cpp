// The catalogue update (Upgrade) measured, in one run:
// BM_CurlFetch: curl fetching a catalogue of 100,000 items from the embedded HTTP server on
//   loopback.
// BM_LoadWinksList: the window's LoadWinksList of the same file (as in LoadWinksListBench).
// BM_Upgrade: the window's Upgrade against the same server, from the click to the reloaded tree:
//   the count file, the catalogue, its check, the rename, Config.ini and the reload.
//   Goal: Upgrade <= 1.3 x (curl + load); the ratios of the best and of the median means of
//   the repetitions (--benchmark_repetitions=N) are printed at the end.
// BM_LivenessWhileTrickling: a server trickles a 1,000-item catalogue for 5 s while the window
//   updates; the longest gap between two runs of a 10 ms timer on the UI thread. Goal: <= 50 ms.
#include "support/AppTestSupport.h"
#include "support/ScriptedServer.h"
#include "CatalogueBench.h"
#include "server/CustomWebServer.h"
#include "base/Process.h"

#include <QTimer>

#include <algorithm>
#include <map>
#include <vector>

namespace {

using namespace zephyrine;
using namespace zephyrine::bench;
using Clock = std::chrono::steady_clock;

constexpr int kTrickleMs = 5000;
constexpr int kTricklePieces = 100;

// Per benchmark, the mean of each repetition, for the ratios.
std::map<std::string, std::vector<double>> meanMs;
void Record(const std::string& name, double ms) {
    meanMs[name].push_back(ms);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class TCountingMessageBox : public platform::IMessageBox {
  public:
    void Show(QWidget*, const std::string&, const std::string&, platform::TMsgIcon) override {
        ++shown;
    }
    bool Confirm(QWidget*, const std::string&, const std::string&) override {
        ++shown;
        return false;
    }
    int shown = 0;
};

// The catalogue server: the embedded server over a folder with the count file and a copy of the
// generated catalogue.
struct TCatalogueServer {
    test::TTempDir site;
    server::TCustomWebServer server{[](std::function<void()> call) {
        QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
    }};
    TCatalogueServer() {
        test::WriteFile(site / "winkscount.txt",
                        "[Config]\r\nCurrentWinks=" + std::to_string(kBenchItems) + "\r\n");
        std::filesystem::copy_file(Folder() + "WinksList.dat", site / "newnmpwinkslist.dat");
        server.SetSearchFolders(site.Folder());
        server.SetListenPort(0);
        server.SetListening(true);
    }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(server.ServingPort()); }
};

// Made on first use, stopped before the application object goes.
std::unique_ptr<TCatalogueServer> catalogueServer;
TCatalogueServer& Server() {
    if (!catalogueServer) catalogueServer = std::make_unique<TCatalogueServer>();
    return *catalogueServer;
}

// A window over a folder of its own whose catalogue the update replaces.
struct TUpgradeWindow {
    test::TTempDir app;
    std::unique_ptr<app::TGlobal> global;
    std::unique_ptr<app::TfrmMainForm> window;
    TCountingMessageBox* box = nullptr;

    explicit TUpgradeWindow(const std::string& catalogueRoot) {
        setenv("XDG_DATA_HOME", (app / "xdg-data").c_str(), 1);  // never the user's own
        setenv("XDG_RUNTIME_DIR", app.Path().c_str(), 1);
        Reset();
        global = std::make_unique<app::TGlobal>(app.Folder(), "http://content.test");
        platform::TPlatform p;
        auto counting = std::make_unique<TCountingMessageBox>();
        box = counting.get();
        p.MessageBox = std::move(counting);
        window = std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{"http://content.test", catalogueRoot});
        window->show();
        QCoreApplication::processEvents();
    }
    // The small catalogue back in place, as a user's before the update.
    void Reset() {
        test::WriteFile(app / "WinksList.dat", test::Catalogue({{"Love", 7}, {"Funny", 6}}));
        if (window) window->LoadWinksList();
    }
    void Upgrade(int expectedItems) {
        const int boxes = box->shown;
        window->actUpgradeExecute();
        QCoreApplication::processEvents();  // the view's relayout and paint after the load
        if (window->ItemCount() != expectedItems || box->shown != boxes + 1) {
            std::fprintf(stderr, "the update failed: %s\n",
                         window->StatusText().toStdString().c_str());
            std::abort();
        }
    }
};

void BM_CurlFetch(benchmark::State& state) {
    const std::string url = Server().Root() + "/download/newnmpwinkslist.dat";
    const test::TTempDir out;
    double total = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const base::TProcessResult r =
            base::RunProcess({"curl", "-s", "-f", "-o", out / "list.dat", url});
        total += Ms(Clock::now() - start);
        if (r.ExitCode != 0) std::abort();
    }
    if (std::filesystem::file_size(out / "list.dat") !=
        std::filesystem::file_size(Folder() + "WinksList.dat")) {
        std::abort();
    }
    Record("curl", total / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CurlFetch)->Unit(benchmark::kMillisecond);

void BM_LoadWinksList(benchmark::State& state) {
    Record("load", RunLoadWinksList(state));
}
BENCHMARK(BM_LoadWinksList)->Unit(benchmark::kMillisecond);

void BM_Upgrade(benchmark::State& state) {
    TUpgradeWindow w(Server().Root());
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.Reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const auto start = Clock::now();
        w.Upgrade(kBenchItems);
        total += Ms(Clock::now() - start);
    }
    state.SetItemsProcessed(state.iterations() * kBenchItems);
    Record("upgrade", total / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Upgrade)->Unit(benchmark::kMillisecond);

void BM_LivenessWhileTrickling(benchmark::State& state) {
    using namespace httpclient::test;
    const std::string list = test::Catalogue({{"Love", 500}, {"Funny", 500}});
    TScript trickle = {ReadRequest(), Send("HTTP/1.0 200 OK\r\n\r\n")};
    const std::size_t piece = list.size() / kTricklePieces + 1;
    for (std::size_t at = 0; at < list.size(); at += piece) {
        trickle.push_back(Pause(kTrickleMs / kTricklePieces));
        trickle.push_back(Send(list.substr(at, piece)));
    }
    TScriptedServer server(
        {Reply("HTTP/1.0 200 OK\r\n\r\n[Config]\r\nCurrentWinks=1000\r\n"), trickle});
    TUpgradeWindow w(server.Url(""));
    double longest = 0, took = 0;
    int ticks = 0;
    for (auto _ : state) {
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(10);
        auto last = Clock::now();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longest = std::max(longest, Ms(now - last));
            last = now;
            ++ticks;
        });
        const auto start = Clock::now();
        tick.start();
        w.Upgrade(1000);
        longest = std::max(longest, Ms(Clock::now() - last));
        took = Ms(Clock::now() - start);
    }
    state.counters["longest_gap_ms"] = longest;
    state.counters["ticks"] = ticks;
    state.counters["upgrade_ms"] = took;
}
BENCHMARK(BM_LivenessWhileTrickling)->Unit(benchmark::kMillisecond)->Iterations(1);

double Best(std::vector<double> v) {
    return *std::min_element(v.begin(), v.end());
}
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void PrintRatioAndStop() {
    catalogueServer.reset();
    if (meanMs.count("curl") == 0 || meanMs.count("load") == 0 || meanMs.count("upgrade") == 0)
        return;
    for (const auto& [what, of] : {std::pair{"best", &Best}, std::pair{"median", &Median}}) {
        const double curl = of(meanMs["curl"]), load = of(meanMs["load"]);
        const double upgrade = of(meanMs["upgrade"]);
        std::printf(
            "%s: Upgrade %.1f ms / (curl %.1f ms + load %.1f ms = %.1f ms) = %.2f "
            "(goal <= 1.3)\n",
            what, upgrade, curl, load, curl + load, upgrade / (curl + load));
    }
}

}  // namespace

int main(int argc, char** argv) {
    return BenchMain(argc, argv, PrintRatioAndStop);
}
