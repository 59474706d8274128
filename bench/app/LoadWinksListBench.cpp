// BM_ParseOnly: pugixml alone on a generated catalogue of 100,000 items in 200 categories.
// BM_LoadWinksList: the window's whole LoadWinksList on the same file, into the tree of a shown
// (offscreen) window, with the events it causes processed, and its ratio to the bare parse
// (per_parse, from the mean times of the two). Goal: the load <= 1.25x the bare parse.
#include "CatalogueBench.h"

#include <pugixml.hpp>

namespace {

using namespace zephyrine::bench;

double gParseMs = 0;  // the bare parse's mean, once it ran

void BM_ParseOnly(benchmark::State& state) {
    const std::string path = Folder() + "WinksList.dat";
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            pugi::xml_document doc;  // released inside the time, as a reload releases the last
            if (!doc.load_file(path.c_str(), pugi::parse_default)) std::abort();
            benchmark::DoNotOptimize(doc.document_element());
        }
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
    }
    gParseMs = total / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kBenchItems);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_LoadWinksList(benchmark::State& state) {
    const double loadMs = RunLoadWinksList(state);
    if (gParseMs > 0) state.counters["per_parse"] = loadMs / gParseMs;
}
BENCHMARK(BM_LoadWinksList)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return BenchMain(argc, argv);
}
