// Opening a content file: the real program started (offscreen) with the demo .mca, timed from
// the start to the status " installed successfully." and to the movie's first frame drawn, read
// from its trace on standard error. The time to its first status text (the catalogue loaded)
// is the baseline of a start without a file. Each repetition is a new process; the association
// is registered by a warm-up start first, as it is for a user opening a file.
#include "support/LocalHttpServer.h"

#include <benchmark/benchmark.h>

#include <poll.h>

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTimeout = std::chrono::seconds(60);

std::string Bin() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

struct TTimes {
    double catalogueMs = -1, installedMs = -1, firstFrameMs = -1;
};

// Starts the program with the file, reads its trace until installed and drawn, stops it.
TTimes RunOnce(const zephyrine::mediatest::TTempFolder& home, const std::string& file) {
    const auto start = Clock::now();
    zephyrine::base::TChildOptions options;
    options.Environment = {"QT_QPA_PLATFORM=offscreen",
                           "QTWEBENGINE_DISABLE_SANDBOX=1",
                           "ZEPHYRINE_TRACE=stderr",
                           "ZEPHYRINE_MESSAGE_BOX=stderr",
                           "XDG_RUNTIME_DIR=" + home.Path().string(),
                           "XDG_DATA_HOME=" + home / "data",
                           "XDG_CACHE_HOME=" + home / "cache",
                           "TMPDIR=" + home.Path().string()};
    options.ErrorOutput = zephyrine::base::TRedirect::ToPipe();
    zephyrine::base::TChildProcess program({Bin() + "/zephyrine", file}, options);
    const int out = program.ErrorOutputFd();
    TTimes t;
    const auto since = [&] {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::string text;
    while ((t.installedMs < 0 || t.firstFrameMs < 0) && Clock::now() - start < kTimeout) {
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (t.catalogueMs < 0 && text.find("Status: ") != std::string::npos)
            t.catalogueMs = since();
        if (t.installedMs < 0 &&
            text.find("Status:  installed successfully.\n") != std::string::npos)
            t.installedMs = since();
        if (t.firstFrameMs < 0 && text.find("FirstFrame: ") != std::string::npos)
            t.firstFrameMs = since();
    }
    return t;  // the program is stopped on the way out
}

void BM_StartWithContentFile(benchmark::State& state) {
    static zephyrine::mediatest::TTempFolder home;
    const std::string file = Bin() + "/demo-content/demo-red.mca";
    static const bool registered = RunOnce(home, file).installedMs > 0;  // the warm-up start
    for (auto _ : state) {
        const TTimes t = RunOnce(home, file);
        if (!registered || t.installedMs < 0 || t.firstFrameMs < 0) {
            state.SkipWithError("the program did not install and play the file");
            break;
        }
        state.SetIterationTime(t.installedMs / 1000);
        state.counters["catalogue_ms"] = t.catalogueMs;
        state.counters["installed_ms"] = t.installedMs;
        state.counters["first_frame_ms"] = t.firstFrameMs;
        state.counters["installed_per_catalogue"] = t.installedMs / t.catalogueMs;
    }
}
BENCHMARK(BM_StartWithContentFile)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
