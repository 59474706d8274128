// BM_ParseOnly: pugixml alone on a generated catalogue of 100,000 items in 200 categories.
// BM_LoadWinksList: the window's whole LoadWinksList on the same file, into the tree of a shown
// (offscreen) window, with the events it causes processed. Goal: the load <= 2x the bare parse.
#include "Platform.h"
#include "WinksGlobal.h"
#include "uMainForm.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <QApplication>

#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace zephyrine;

constexpr int kCategories = 200;
constexpr int kItemsPerCategory = 500;

class TNoMessageBox : public platform::IMessageBox {
  public:
    void Show(QWidget*, const std::string& text, const std::string&, platform::TMsgIcon) override {
        std::fprintf(stderr, "unexpected message box: %s\n", text.c_str());
        std::abort();
    }
};

// A folder with the generated WinksList.dat, alive for the whole run.
const std::string& Folder() {
    static const std::string folder = [] {
        std::string templ =
            (std::filesystem::temp_directory_path() / "zephyrine-bench-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) std::abort();
        std::ofstream out(templ + "/WinksList.dat", std::ios::binary);
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
        return templ + "/";
    }();
    return folder;
}

void BM_ParseOnly(benchmark::State& state) {
    const std::string path = Folder() + "WinksList.dat";
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str(), pugi::parse_default)) std::abort();
        benchmark::DoNotOptimize(doc.document_element());
    }
    state.SetItemsProcessed(state.iterations() * kCategories * kItemsPerCategory);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_LoadWinksList(benchmark::State& state) {
    const std::string folder = Folder();
    setenv("XDG_DATA_HOME", (folder + "xdg-data").c_str(), 1);  // never the user's own
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    app::TGlobal global(folder, "http://content.test");
    platform::TPlatform p;
    p.MessageBox = std::make_unique<TNoMessageBox>();
    app::TfrmMainForm window(global, std::move(p), {"http://content.test", "http://cat.test"});
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.LoadWinksList();
        QCoreApplication::processEvents();  // the view's relayout and paint after the load
    }
    if (window.FItemCount != kCategories * kItemsPerCategory) std::abort();
    state.SetItemsProcessed(state.iterations() * window.FItemCount);
}
BENCHMARK(BM_LoadWinksList)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The same allocator behaviour for both: freed memory stays with the process, so neither
    // figure measures the kernel handing pages back and forth (the bare parse, whose document is
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
    std::filesystem::remove_all(Folder());
    return 0;
}
