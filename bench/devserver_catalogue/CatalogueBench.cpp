// How long the sample catalogue takes to make: the whole catalogue drawn from nothing on one and
// on four threads (what a server pays at start-up), one sheet with its frame table, and one
// drawing. Ends with "ratio catalogue_four_threads_over_one <value>".

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "tools/devserver/catalogue/SampleCatalogue.h"

using namespace devserver::catalogue;

namespace {

// The best time of each run, for the closing comparison.
std::map<std::string, double> best;

void record(benchmark::State& state, const std::string& name, double seconds) {
    state.SetIterationTime(seconds);
    best[name] = best.count(name) ? std::min(best[name], seconds) : seconds;
}

void BM_WholeCatalogue(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Options options;
        options.sharePictures = false;
        options.threads = threads;
        auto start = std::chrono::steady_clock::now();
        auto catalogue = SampleCatalogue::generate(options);
        catalogue->prepareAll();
        record(state, "whole_" + std::to_string(threads),
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_WholeCatalogue)->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OneSheet(benchmark::State& state) {
    for (auto _ : state) {
        Options options;
        options.sharePictures = false;
        auto catalogue = SampleCatalogue::generate(options);
        benchmark::DoNotOptimize(catalogue->file("sample_coupe/cheshen_std_metal.json"));
    }
}
BENCHMARK(BM_OneSheet)->Unit(benchmark::kMillisecond);

void BM_OneDrawing(benchmark::State& state) {
    auto catalogue = SampleCatalogue::generate();
    int angle = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue->sourceDrawing("sample_coupe", "lunke_sport", angle++ % 25 + 1));
}
BENCHMARK(BM_OneDrawing)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (best.count("whole_1") && best.count("whole_4"))
        std::printf(
            "ratio catalogue_four_threads_over_one %.3f\nwhole catalogue: %.3f s on one thread, %.3f s on "
            "four\n",
            best["whole_4"] / best["whole_1"], best["whole_1"], best["whole_4"]);
    return 0;
}
