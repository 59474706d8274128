// BM_ParseOnly: pugixml alone on a generated catalogue of 100,000 items in 200 categories.
// BM_LoadWinksList: the window's whole LoadWinksList on the same file, into the tree of a shown
// (offscreen) window, with the events it causes processed. Goal: the load <= 2x the bare parse.
#include "CatalogueBench.h"

#include <pugixml.hpp>

namespace {

using namespace zephyrine::bench;

void BM_ParseOnly(benchmark::State& state) {
    const std::string path = Folder() + "WinksList.dat";
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str(), pugi::parse_default)) std::abort();
        benchmark::DoNotOptimize(doc.document_element());
    }
    state.SetItemsProcessed(state.iterations() * kBenchItems);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_LoadWinksList(benchmark::State& state) {
    RunLoadWinksList(state);
}
BENCHMARK(BM_LoadWinksList)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return BenchMain(argc, argv);
}
