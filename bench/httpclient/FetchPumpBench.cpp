// The pump's cost: the same download with a pump that runs a Qt event loop (with a 10 ms timer,
// as a window has) and with a plain pump, best of several runs each, in one process.
//   FetchPumpBench URL BODYFILE [RUNS]
// Prints MB/s of each and the ratio; fetch-bench.py runs it against nginx.
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "NMHTTP.h"

using namespace zephyrine::httpclient;

namespace {

// Seconds of one download; negative when it failed.
double Download(const std::string& url, const std::string& file, std::function<void()> pump) {
    std::filesystem::remove(file);  // emptying the last copy is not part of the download
    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = file;
    http.Pump = std::move(pump);
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(url);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "download failed: %s\n", e.what());
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

    double plain = 1e9, qt = 1e9;
    for (int i = 0; i < runs; ++i) {  // alternated, so that both see the same machine
        const double p = Download(url, file, [] {});
        const double q = Download(url, file, [] { QCoreApplication::processEvents(); });
        if (p < 0 || q < 0) return 1;
        plain = std::min(plain, p);
        qt = std::min(qt, q);
    }
    const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    std::printf("plain pump  %8.1f MB/s\n", mb / plain);
    std::printf("Qt pump     %8.1f MB/s  (%ld timer ticks ran during the downloads)\n", mb / qt,
                ticks);
    std::printf("Qt pump / plain pump time: %.3f\n", qt / plain);
    return 0;
}
