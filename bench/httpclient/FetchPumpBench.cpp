// The pump's cost: the same download with a pump that runs a Qt event loop (with a 10 ms timer,
// as a window has) and with a plain pump, best of several runs each, in one process.
//   FetchPumpBench URL BODYFILE [RUNS]
// Prints MB/s and CPU time of each and their ratios; fetch-bench.py runs it against nginx. On a
// busy machine the wall time swings more than the CPU time the process spends.
#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "httpclient/NMHTTP.h"

using namespace zephyrine::httpclient;

namespace {

double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

struct TBest {
    double wall = 1e9;
    double cpu = 1e9;
};

// One download into the best times; false when it failed.
bool Download(const std::string& url, const std::string& file, std::function<void()> pump,
              TBest& best) {
    std::filesystem::remove(file);  // emptying the last copy is not part of the download
    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = file;
    http.Pump = std::move(pump);
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(url);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "download failed: %s\n", e.what());
        return false;
    }
    best.wall = std::min(
        best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: FetchPumpBench URL BODYFILE [RUNS]\n", stderr);
        return 2;
    }
    const std::string url = argv[1];
    const std::string file = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    QCoreApplication app(argc, argv);
    QTimer timer;
    long ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    TBest plain, qt;
    for (int i = 0; i < runs; ++i) {  // alternated, so that both see the same machine
        if (!Download(
                url, file, [] {}, plain) ||
            !Download(
                url, file, [] { QCoreApplication::processEvents(); }, qt)) {
            return 1;
        }
    }
    const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    std::printf("plain pump  %8.1f MB/s  %6.1f ms CPU\n", mb / plain.wall, plain.cpu * 1e3);
    std::printf("Qt pump     %8.1f MB/s  %6.1f ms CPU  (%ld timer ticks ran meanwhile)\n",
                mb / qt.wall, qt.cpu * 1e3, ticks);
    std::printf("Qt pump / plain pump: wall time %.3f, CPU time %.3f\n", qt.wall / plain.wall,
                qt.cpu / plain.cpu);
    return 0;
}
