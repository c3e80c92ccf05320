// What an ordinary page at the page bounds costs: 100,000 elements and 4 MB of text (questions
// with paragraphs, links, bold words, lists and a few tables, in English and Chinese), built,
// laid out at a phone's 375 points and its first screen (667 points) drawn by the web page
// renderer on one thread, as the page's process does. Ends with
//   ratio web_large_page_cpu <CPU ms / 4,000 ms>   (target: at most 1.0, four fifths of the page
//                                                   process's 5 s, so the page is never ended)
//   ratio web_large_page_memory <peak MB / 448 MB> (target: at most 1.0, seven eighths of the page
//                                                   process's 512 MB, the rest its libraries and fonts)
// and, from the same run, the same page at a tenth of its size as the reference.

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <string>

#include "bench/support/PeakMemory.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebLargePage.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"

namespace {

constexpr double kTargetMs = 4000;
constexpr double kTargetMB = 448;

void run(benchmark::State& state, const std::string& name, const std::string& html) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 375, 667);
    benchsupport::resetPeak();
    for (auto _ : state) {
        WebDocument::Resources resources;
        resources.image = [](const std::string&) -> Ref<CGImage> { return nullptr; };
        auto doc = WebDocument::create(html, "http://bench.test/", resources);
        CGSize size = doc->layout(375);
        cairo_t* cr = cairo_create(surface);
        doc->draw(cr, CGRectMake(0, 0, 375, std::min<CGFloat>(size.height, 667)));
        cairo_destroy(cr);
        benchmark::DoNotOptimize(size);
    }
    benchsupport::recordPeak(state, name);
    cairo_surface_destroy(surface);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // 2,000 questions: the page's bounds; 200: the reference.
    const std::string full = benchsupport::largePage(2000), tenth = benchsupport::largePage(200);
    detail::WebPageSourceInfo info;
    detail::boundedPageSource(full, {}, &info);
    benchmark::RegisterBenchmark("BM_TenthPage", [&](benchmark::State& s) { run(s, "BM_TenthPage", tenth); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("BM_LargePage", [&](benchmark::State& s) { run(s, "BM_LargePage", full); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto& peaks = benchsupport::casePeaksMB();
    auto large = reporter.time("BM_LargePage"), small = reporter.time("BM_TenthPage");
    if (!large || !small) return 0;
    std::printf("  the page: %zu elements, %zu bytes of text in %zu pieces, %s\n", info.elements,
                info.textBytes, info.textPieces, info.truncated ? "cut by a bound" : "whole");
    std::printf("ratio web_large_page_cpu %.4g\n", *large / kTargetMs);
    std::printf("  built, laid out and first screen drawn in %.4g ms of CPU; target: at most %.0f ms (1.0)\n",
                *large, kTargetMs);
    std::printf("  reference, the page at a tenth: %.4g ms\n", *small);
    std::printf("ratio web_large_page_memory %.4g\n", peaks["BM_LargePage"] / kTargetMB);
    std::printf("  peak %.0f MB; target: at most %.0f MB (1.0); reference, the page at a tenth: %.0f MB\n",
                peaks["BM_LargePage"], kTargetMB, peaks["BM_TenthPage"]);
    return 0;
}
