// The Find filter on a catalogue of 100,000 items in 200 categories, in a tree view set up as the
// window's and shown offscreen: one keystroke → the tree laid out and painted again. Goal: every
// keystroke within 16 ms. The names mix a few dozen words with numbers and non-Latin text.
#include "app/CatalogueFilter.h"
#include "app/WinksCatalogue.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace zephyrine;

constexpr int kCategories = 200;
constexpr int kItemsPerCategory = 500;
constexpr int kItems = kCategories * kItemsPerCategory;

const char* const kWords[] = {
    "Kiss",      "Beating Heart", "Rose",       "Hug",           "Dancing Banana",
    "Pie",       "Laughing",      "Waving Cat", "Sleepy Dog",    "Penguin Slide",
    "Hello",     "Good Night",    "Birthday",   "Shooting Star", "Fireworks",
    "Thumbs Up", "Éclair",        "Straße",     "Кошка",         "Ünïcödé Wave",
    "Snowman",   "Rainbow",       "Thunder",    "Guitar",        "Pizza Party"};

std::string WriteCatalogue() {
    std::string folder =
        (std::filesystem::temp_directory_path() / "zephyrine-filterbench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    const std::string path = folder + "/WinksList.dat";
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<WinksList>\n";
    int n = 0;
    for (int c = 0; c < kCategories; ++c) {
        out << "  <Category" << c << ">\n";
        for (int i = 0; i < kItemsPerCategory; ++i, ++n)
            out << "    <Wink WinkName=\"" << kWords[(n * 7 + c) % std::size(kWords)] << ' ' << n
                << "\" DownloadUrl=\"p" << n << ".cab\" SwfUrl=\"p" << n << ".swf\"/>\n";
        out << "  </Category" << c << ">\n";
    }
    out << "</WinksList>\n";
    return path;
}

// The window's tree: the catalogue model in a shown view, the first category expanded.
struct TTree {
    std::string path = WriteCatalogue();
    app::TImageList images;
    platform::TXMLDocument doc;
    QTreeView view;
    app::TWinksTreeModel model{images};
    std::unique_ptr<app::TCatalogueFilter> filter;

    TTree() {
        view.setHeaderHidden(true);
        view.setUniformRowHeights(true);
        view.setModel(&model);
        view.resize(300, 600);
        view.show();
        const app::TCatalogueLoad load = app::LoadCatalogue(doc, path, model);
        if (!load.Ok || load.ItemCount != kItems) std::abort();
        view.expand(model.CategoryIndex(0));
        filter = std::make_unique<app::TCatalogueFilter>(&view);
        Repaint();
    }
    ~TTree() { std::filesystem::remove_all(std::filesystem::path(path).parent_path()); }
    void Repaint() { view.viewport()->repaint(); }
    // A keystroke that leaves text in the field: the tree updated and painted.
    void Type(const QString& text) {
        filter->SetText(text);
        Repaint();
    }
};

// Made on first use, gone before the application object.
std::unique_ptr<TTree> tree;

TTree& Tree() {
    if (!tree) tree = std::make_unique<TTree>();
    return *tree;
}

// From the state before, the keystroke that makes the field read after.
void Keystroke(benchmark::State& state, const char* before, const char* after) {
    TTree& tree = Tree();
    for (auto _ : state) {
        state.PauseTiming();
        tree.Type(QString());
        tree.Type(QString::fromUtf8(before));
        state.ResumeTiming();
        tree.Type(QString::fromUtf8(after));
    }
    state.counters["shown"] = tree.filter->ShownCount();
    tree.Type(QString());
}

void BM_FirstKeystroke(benchmark::State& state) {
    Keystroke(state, "", "k");
}
void BM_ExtendKeystroke(benchmark::State& state) {
    Keystroke(state, "ki", "kis");
}
void BM_Backspace(benchmark::State& state) {
    Keystroke(state, "kis", "ki");
}
void BM_BroadKeystroke(benchmark::State& state) {  // "e": most items stay shown
    Keystroke(state, "", "e");
}
void BM_NarrowFromBroad(benchmark::State& state) {  // "e" → "ec": most items hidden at once
    Keystroke(state, "e", "ec");
}
void BM_UnicodeKeystroke(benchmark::State& state) {
    Keystroke(state, "", "КОШ");
}
void BM_ClearRestores(benchmark::State& state) {  // Escape: the whole tree as it was
    Keystroke(state, "kis", "");
}
// A new load: the captions read again, then the first keystroke.
void BM_ResetThenKeystroke(benchmark::State& state) {
    TTree& tree = Tree();
    for (auto _ : state) {
        state.PauseTiming();
        tree.Type(QString());
        state.ResumeTiming();
        tree.filter->Reset();
        tree.Type("k");
    }
    tree.Type(QString());
}

BENCHMARK(BM_FirstKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtendKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Backspace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BroadKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NarrowFromBroad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnicodeKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClearRestores)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResetThenKeystroke)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tree.reset();
    return 0;
}
