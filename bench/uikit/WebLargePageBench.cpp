// What an ordinary page at the page bounds costs: 100,000 elements and 4 MB of text (questions
// with paragraphs, links, bold words, lists and a few tables, in English and Chinese), built,
// laid out at a phone's 375 points and its first screen (667 points) drawn by the web page
// renderer on one thread, as the page's process does. Ends with
//   ratio web_large_page_cpu <CPU ms / 4,000 ms>   (target: at most 1.0, four fifths of the page
//                                                   process's 5 s, so the page is never ended)
//   ratio web_large_page_memory <peak MB / 448 MB> (target: at most 1.0, seven eighths of the page
//                                                   process's 512 MB, the rest its libraries and fonts)
// and, from the same run, the same page at a tenth of its size as the reference.
//
// Then the same page through a web view, its rules in one linked stylesheet, as a site serves it:
// in a child process of its own (this program again), a loopback server, a 375-point web view in
// a window; from the load call to the page finished and its first screen drawn, the CPU its page's
// process spent and that process's peak. Ends with
//   ratio web_large_page_process_cpu <CPU s / 2.5 s>        (target: at most 1.0: read, styled and
//                                                           laid out once, after its stylesheet)
//   ratio web_large_page_process_memory <peak MB / 448 MB> (target: at most 1.0)

#include <benchmark/benchmark.h>
#include <cairo.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench/support/ChildProcess.h"
#include "bench/support/WebPageChild.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"
#include "uikit/WebPageProcess.h"

#include "bench/support/PeakMemory.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebLargePage.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"

namespace {

constexpr double kTargetMs = 4000;
constexpr double kTargetMB = 448;
constexpr double kProcessTargetSeconds = 2.5;

// CPU seconds a process has spent, and its peak resident size in MB; -1 when /proc cannot tell.
double cpuSecondsOf(int pid) {
    const std::string stat = benchsupport::readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t at = stat.rfind(')');
    unsigned long long utime = 0, stime = 0;
    if (at == std::string::npos ||
        std::sscanf(stat.c_str() + at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2)
        return -1;
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}
double peakMBOf(int pid) {
    const std::string status = benchsupport::readFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmHWM:");
    long kb = 0;
    if (at == std::string::npos || std::sscanf(status.c_str() + at + 6, "%ld", &kb) != 1) return -1;
    return kb / 1024.0;
}

// The child: the page through a web view; prints what its process spent.
int throughWebView(int questions) {
    std::map<std::string, benchsupport::PageReply> routes;
    routes["/"] = {"text/html; charset=utf-8", benchsupport::largePage(questions, "/page.css")};
    routes["/page.css"] = {"text/css", benchsupport::kLargePageSheet};
    benchsupport::PageServer server(std::move(routes));
    auto window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
    window->setHidden(false);
    auto web = make<UIWebView>(CGRectMake(0, 0, 375, 667));
    window->addSubview(web);
    auto loop = NSRunLoop::mainRunLoop();
    // The spare, ready before the load (a load never waits for it while it is ready).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until &&
           (detail::WebPageProcess::spareProcessID() == 0 ||
            cpuSecondsOf(detail::WebPageProcess::spareProcessID()) < 0))
        loop->runOnce(NSDefaultRunLoopMode, 0.01);
    for (int i = 0; i < 30; ++i) loop->runOnce(NSDefaultRunLoopMode, 0.01);
    const int spare = detail::WebPageProcess::spareProcessID();
    const double before = cpuSecondsOf(spare);
    const char* outcome = benchsupport::loadUntilEnded(web, server.url("/"), 60);
    const int pid = web->pageProcessID();
    auto picture = UIWindowRenderer::imageOfView(window, 2);
    const double cpu = pid == spare ? cpuSecondsOf(pid) - before : -1;
    std::printf("process %s %.4f %.2f %d\n", outcome, cpu, peakMBOf(pid), picture ? 1 : 0);
    std::fflush(stdout);
    _exit(0);
}

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
    if (argc == 3 && std::strcmp(argv[1], "--through-web-view") == 0)
        return throughWebView(std::atoi(argv[2]));
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

    struct Through {
        std::string how = "crashed-or-hung";
        double cpu = -1, peakMB = -1;
    };
    auto through = [](int questions) {
        Through t;
        const std::string text =
            benchsupport::runSelf({"bench", "--through-web-view", std::to_string(questions)}, 90);
        char how[64] = "";
        int drawn = 0;
        if (std::sscanf(text.c_str(), "process %63s %lf %lf %d", how, &t.cpu, &t.peakMB, &drawn) == 4 &&
            drawn)
            t.how = how;
        return t;
    };
    const Through whole = through(2000), part = through(200);
    if (whole.how != "finished" || whole.cpu < 0) {
        std::printf("ratio web_large_page_process_cpu nan\nratio web_large_page_process_memory nan\n");
    } else {
        std::printf("ratio web_large_page_process_cpu %.4g\n", whole.cpu / kProcessTargetSeconds);
        std::printf("ratio web_large_page_process_memory %.4g\n", whole.peakMB / kTargetMB);
    }
    std::printf(
        "  through a web view, one linked stylesheet: %s, its process spent %.3f s of CPU and peaked at "
        "%.0f MB; targets: at most %.1f s and %.0f MB (1.0); reference, the page at a tenth: %.3f s, "
        "%.0f MB\n",
        whole.how.c_str(), whole.cpu, whole.peakMB, kProcessTargetSeconds, kTargetMB, part.cpu, part.peakMB);
    return 0;
}
