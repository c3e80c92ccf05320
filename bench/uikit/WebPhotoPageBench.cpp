// What a page of camera photos costs a web view, and what its shown text costs when the page is
// 16 MB of empty style and script elements.
//
// Photos: each case runs in a child process of its own (this program again, with the case's
// name): the child serves the page on loopback, loads it into a 375-point web view in a window
// with the default limits, runs the main run loop until the page finishes or fails (at most a
// minute), draws the window and counts the photo boxes drawn (not white), then reports its peak
// resident size. The page: 50 photos of 4032 x 3024 (each at its own URL), in 60 x 45 boxes.
// Ends with "ratio web_photo_page_memory <peak MB / 512 MB>" (target: at most 1.0, with every
// photo drawn) and, from the same run, the peak of a page of one such photo as the reference.
//
// Shown text: "ratio web_shown_text_16mb <time of the styles page / time of a text page>", the
// reference being the shown text of a 16 MB page of plain paragraphs, timed in the same run; the
// target is at most 1.0 (skipping elements costs no more than reading text).

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/ChildProcess.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageChild.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "graphics/CGImage.h"
#include "network/NSURLRequest.h"
#include "tests/graphics/JPEGWriter.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using benchsupport::peakKB;
using benchsupport::readFile;
using benchsupport::runSelf;

constexpr double kTargetMB = 512;
constexpr double kChildSeconds = 60;
constexpr int kPhotos = 50, kBoxW = 60, kBoxH = 45, kPerRow = 6;
constexpr CGFloat kViewW = 375, kViewH = 667;

std::string cacheDir() {
    return benchsupport::benchCacheDir("web-photo-page-bench");
}

// A camera photo's worth of detail (a noisy gradient), written whole and then renamed: a file
// that exists is complete.
int makePhoto(const std::string& dir) {
    return benchsupport::makeFileOnce(dir, "camera.jpg", [] {
        return jpegwriter::write({4032, 3024, 3, true, false, false, 85});
    });
}

// ---- the child: a loopback server and a web view ---------------------------------------------

// The photo boxes whose middle and corners the window drew in something other than white.
int drawnBoxes(const Ref<UIWindow>& window, int count) {
    auto image = UIWindowRenderer::imageOfView(window, 1);
    if (!image || !image->CGImage()) return 0;
    const NSData pixels = detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    const std::size_t width = image->CGImage()->width();
    auto white = [&](int x, int y) {
        const std::uint8_t* p = pixels.bytes() + (std::size_t(y) * width + std::size_t(x)) * 4;
        return p[0] > 240 && p[1] > 240 && p[2] > 240;
    };
    int drawn = 0;
    for (int i = 0; i < count; ++i) {
        const int x = (i % kPerRow) * kBoxW, y = (i / kPerRow) * kBoxH;
        drawn += !white(x + kBoxW / 2, y + kBoxH / 2) && !white(x + 2, y + 2) &&
                 !white(x + kBoxW - 3, y + kBoxH - 3);
    }
    return drawn;
}

int runChild(const std::string& name, const std::string& dir) {
    const int count = name == "one_photo" ? 1 : name == "photos_50" ? kPhotos : -1;
    if (count < 0) {
        std::fprintf(stderr, "no case %s\n", name.c_str());
        return 2;
    }
    std::map<std::string, benchsupport::PageReply> routes;
    std::string page =
        "<html><body style=\"margin:0\"><div style=\"width:" + std::to_string(kBoxW * kPerRow) + "px\">";
    {
        auto photo = std::make_shared<const std::string>(readFile(dir + "/camera.jpg"));
        for (int i = 0; i < count; ++i) {
            const std::string path = "/photo" + std::to_string(i) + ".jpg";
            routes[path] = {"image/jpeg", photo};
            page += "<img style=\"display:block;float:left\" src=\"" + path + "\" width=\"" +
                    std::to_string(kBoxW) + "\" height=\"" + std::to_string(kBoxH) + "\">";
        }
    }
    routes["/"] = {"text/html; charset=utf-8",
                   std::make_shared<const std::string>(page + "</div></body></html>")};
    benchsupport::PageServer server(std::move(routes));

    auto window = make<UIWindow>(CGRectMake(0, 0, kViewW, kViewH));
    window->setHidden(false);
    auto web = make<UIWebView>(CGRectMake(0, 0, kViewW, kViewH));
    window->addSubview(web);
    const char* outcome = benchsupport::loadUntilEnded(web, server.url("/"), kChildSeconds);
    for (int i = 0; i < 10; ++i) NSRunLoop::mainRunLoop()->runOnce(NSDefaultRunLoopMode, 0);
    const int drawn = std::strcmp(outcome, "timed-out") != 0 ? drawnBoxes(window, count) : 0;
    std::printf("peak_kb %ld %s %d %d\n", peakKB(), outcome, drawn, count);
    std::fflush(stdout);
    // Server threads and workers may still be busy with the page: no orderly teardown.
    _exit(0);
}

// ---- the parent ------------------------------------------------------------------------------

struct Outcome {
    double peakMB = -1;
    std::string how;
    int drawn = 0, count = 0;
};
std::map<std::string, Outcome>& outcomes() {
    static std::map<std::string, Outcome> map;
    return map;
}

void BM_PhotoPage(benchmark::State& state, std::string name) {
    Outcome outcome;
    for (auto _ : state) {
        const std::string text = runSelf({"bench", "--page", name, cacheDir()}, kChildSeconds + 30);
        long kb = 0;
        char how[64] = "";
        int drawn = 0, count = 0;
        if (std::sscanf(text.c_str(), "peak_kb %ld %63s %d %d", &kb, how, &drawn, &count) == 4) {
            outcome = {kb / 1024.0, how, drawn, count};
        } else {
            outcome = {-1, "crashed or hung"};
        }
    }
    state.counters["peak_MB"] = outcome.peakMB;
    state.counters["drawn"] = outcome.drawn;
    outcomes()[name] = outcome;
}

// ---- shown text --------------------------------------------------------------------------------

// A web view showing a page of about 16 MB made of `unit` repeated.
Ref<UIWebView> viewOf(const std::string& unit) {
    std::string page = "<p>before</p>";
    page.reserve((16u << 20) + unit.size());
    while (page.size() < (16u << 20)) page += unit;
    auto web = make<UIWebView>(CGRectMake(0, 0, kViewW, kViewH));
    auto end = make<benchsupport::PageEnd>();
    web->setDelegate(end);
    web->loadHTMLString(page + "<p>after</p>", nullptr);
    auto loop = NSRunLoop::mainRunLoop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kChildSeconds);
    while (!end->outcome && std::chrono::steady_clock::now() < deadline)
        loop->runOnce(NSDefaultRunLoopMode, 0.01);
    web->setDelegate(nullptr);
    return web;
}

void shownText(benchmark::State& state, const std::string& unit) {
    auto web = viewOf(unit);
    std::size_t length = 0;
    for (auto _ : state) {
        const std::string text = web->shownText();
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["text_bytes"] = double(length);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(web->shownHTML().size()));
}

void BM_ShownTextOfEmptyStyles(benchmark::State& state) {
    shownText(state, "<style></style><SCRIPT></Script>");
}
BENCHMARK(BM_ShownTextOfEmptyStyles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShownTextOfParagraphs(benchmark::State& state) {
    shownText(state, "<p>Wheels &amp; tyres for a hatchback.</p>");
}
BENCHMARK(BM_ShownTextOfParagraphs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // A child: make the photo, or load one page and report.
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) return makePhoto(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--page") == 0) return runChild(argv[2], argv[3]);

    benchmark::Initialize(&argc, argv);
    if (!benchsupport::madeInChild(cacheDir(), "the photo")) return 1;
    for (const char* name : {"one_photo", "photos_50"})
        benchmark::RegisterBenchmark((std::string("BM_PhotoPage/") + name).c_str(), BM_PhotoPage, name)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& all = outcomes();
    if (auto photos = all.find("photos_50"); photos != all.end()) {
        const Outcome& o = photos->second;
        // A page that leaves photos white has not met the target, whatever its memory.
        if (o.peakMB < 0 || o.drawn < o.count)
            std::printf("ratio web_photo_page_memory nan\n");
        else
            std::printf("ratio web_photo_page_memory %.4g\n", o.peakMB / kTargetMB);
        std::printf(
            "  peak %.0f MB, page %s, %d of %d photos drawn; target: at most 1.0 (%g MB), every photo "
            "drawn\n",
            o.peakMB, o.how.c_str(), o.drawn, o.count, kTargetMB);
    }
    if (auto one = all.find("one_photo"); one != all.end())
        std::printf("  reference: a page of one such photo peaks at %.0f MB (%s)\n", one->second.peakMB,
                    one->second.how.c_str());
    auto styles = reporter.time("BM_ShownTextOfEmptyStyles");
    auto paragraphs = reporter.time("BM_ShownTextOfParagraphs");
    if (styles && paragraphs) {
        std::printf("ratio web_shown_text_16mb %.4g\n", *styles / *paragraphs);
        std::printf("  16 MB of empty styles and scripts: %.4g ms; reference: 16 MB of paragraphs, %.4g ms; "
                    "target: at most 1.0\n",
                    *styles, *paragraphs);
    }
    return 0;
}
