// What styling a page of long sibling chains holds: 20,000 sibling paragraphs under 70 rules of
// 16 compounds chained by "+" and "~" from "#c > p:first-child" (see benchsupport::siblingChains),
// built, styled, laid out at a phone's 375 points and its first screen drawn, on one thread, as
// the page's own process does. The page's process is ended past 512 MB; styling is to stay within
// half of it.
// Ends with "ratio web_sibling_chains_memory <peak MB / 256 MB>" (target: at most 1.0) and, from
// the same run as references, the same paragraphs without rules and under one chain (the peak is
// reset before each case, and each case's CPU time is shown beside its peak).

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <string>

#include "bench/support/PeakMemory.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageDrawing.h"
#include "bench/support/WebStyledPages.h"

namespace {

constexpr CGFloat kWidth = 375, kHeight = 667;
constexpr double kTargetMB = 256;
constexpr int kParagraphs = 20000, kChains = 70, kCompounds = 16;

struct Case {
    const char* name;
    int chains;  // 0: no rules
};
const Case kCases[] = {{"sibling_chains_tree", 0}, {"sibling_chains_one", 1}, {"sibling_chains", kChains}};

void run(benchmark::State& state, const Case& c) {
    const auto page =
        benchsupport::siblingChains(kParagraphs, c.chains ? c.chains : 1, kCompounds, c.chains > 0);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth), int(kHeight));
    benchsupport::resetPeak();
    for (auto _ : state) benchsupport::buildLayOutAndDraw(page.body, page.sheet, surface, kWidth);
    benchsupport::recordPeak(state, c.name);
    cairo_surface_destroy(surface);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const Case& c : kCases)
        benchmark::RegisterBenchmark((std::string("BM_") + c.name).c_str(),
                                     [&c](benchmark::State& state) { run(state, c); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& peaks = benchsupport::casePeaksMB();
    auto shown = [&](const char* name) {
        auto peak = peaks.find(name);
        auto time = reporter.time(std::string("BM_") + name);
        if (peak == peaks.end() || !time) return std::string("not run");
        char text[96];
        std::snprintf(text, sizeof text, "peak %.0f MB, %.0f ms of CPU", peak->second, *time);
        return std::string(text);
    };
    if (auto chains = peaks.find("sibling_chains"); chains != peaks.end()) {
        std::printf("ratio web_sibling_chains_memory %.4g\n", chains->second / kTargetMB);
        std::printf("  %d paragraphs under %d chains of %d compounds: %s; target: at most 1.0 (%.0f MB)\n",
                    kParagraphs, kChains, kCompounds, shown("sibling_chains").c_str(), kTargetMB);
        std::printf("  reference, the same paragraphs without rules: %s\n",
                    shown("sibling_chains_tree").c_str());
        std::printf("  reference, under one chain: %s\n", shown("sibling_chains_one").c_str());
    }
    return 0;
}
