// What the catalogue benchmarks share: a generated catalogue of 100,000 items in 200 categories,
// the window's LoadWinksList measured on it, and a main that runs the benchmarks of a program.
#pragma once

#include "support/AppTestSupport.h"
#include "platform/Platform.h"
#include "app/WinksGlobal.h"
#include "app/uMainForm.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace zephyrine::bench {

inline constexpr int kCategories = 200;
inline constexpr int kItemsPerCategory = 500;
inline constexpr int kBenchItems = kCategories * kItemsPerCategory;

inline void WriteBenchCatalogue(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<WinksList>\n";
    int n = 0;
    for (int c = 0; c < kCategories; ++c) {
        out << "  <Category" << c << ">\n";
        for (int i = 0; i < kItemsPerCategory; ++i, ++n) {
            out << "    <Wink WinkName=\"Wink number " << n << "\" DownloadUrl=\"pack" << n
                << ".cab\" SwfUrl=\"preview" << n << ".swf\"/>\n";
        }
        out << "  </Category" << c << ">\n";
    }
    out << "</WinksList>\n";
}

// A folder with the generated WinksList.dat, alive for the whole run (removed by BenchMain).
inline const std::string& Folder() {
    static const std::string folder = [] {
        std::string templ =
            (std::filesystem::temp_directory_path() / "zephyrine-bench-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) std::abort();
        WriteBenchCatalogue(templ + "/WinksList.dat");
        return templ + "/";
    }();
    return folder;
}

class TNoMessageBox : public platform::IMessageBox {
  public:
    void Show(QWidget*, const std::string& text, const std::string&, platform::TMsgIcon) override {
        std::fprintf(stderr, "unexpected message box: %s\n", text.c_str());
        std::abort();
    }
    bool Confirm(QWidget*, const std::string& text, const std::string&) override {
        std::fprintf(stderr, "unexpected question: %s\n", text.c_str());
        std::abort();
    }
};

// The window's whole LoadWinksList on the generated file, into the tree of a shown (offscreen)
// window, with the events it causes processed. Returns the mean milliseconds per load.
inline double RunLoadWinksList(benchmark::State& state) {
    const std::string folder = Folder();
    setenv("XDG_DATA_HOME", (folder + "xdg-data").c_str(), 1);  // never the user's own
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    app::TGlobal global(folder, "http://content.test");
    platform::TPlatform p;
    p.MessageBox = std::make_unique<TNoMessageBox>();
    app::TfrmMainForm window(global, std::move(p), {"http://content.test", "http://cat.test"});
    window.show();
    QCoreApplication::processEvents();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        window.LoadWinksList();
        QCoreApplication::processEvents();  // the view's relayout and paint after the load
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
    }
    if (window.ItemCount() != kBenchItems) std::abort();
    state.SetItemsProcessed(state.iterations() * window.ItemCount());
    return total / static_cast<double>(state.iterations());
}

// main of a benchmark program of the window; after (when given) runs once the benchmarks ran.
inline int BenchMain(int argc, char** argv, void (*after)() = nullptr) {
    // The same allocator behaviour for every figure: freed memory stays with the process, so
    // none measures the kernel handing pages back and forth (the bare parse, whose document is
    // the top of the heap, otherwise pays ~10,000 page faults per run; the load does not).
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName("Zephyrine");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (after != nullptr) after();
    std::filesystem::remove_all(Folder());
    return 0;
}

}  // namespace zephyrine::bench
