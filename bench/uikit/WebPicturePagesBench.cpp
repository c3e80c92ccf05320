// What pages of many pictures cost a web view, from the load call: when the page finishes, when every
// picture it may show is drawn, whether its process lives through it, and whether the main thread
// stays free. Each case runs in a child process of its own (this program again, with the case's
// name): the child serves the page on loopback, loads it into a 375-point web view in a window with
// the default limits, runs the main run loop until the page ends, then renders the window every
// tenth of a second until every picture box it expects is drawn (or ten seconds from the load).
//
// Cases:
//   photos_200  200 camera photos (4032 x 3024 progressive 4:2:0 JPEGs of about 4 MB, one file at 200
//               URLs) in 20 x 15 boxes; the photos within the pictures' byte budget are expected
//   small_2000  2,000 distinct 8 x 8 PNGs fetched, in 8 x 8 boxes
//   data_2000   2,000 distinct 8 x 8 PNGs written into the page as data: URLs, in 8 x 8 boxes
//   small_20    20 such fetched PNGs: the reference
// Ends with, each target at most 1.0:
//   ratio web_photos_200_finished <seconds to finished / 2 s>
//   ratio web_photos_200_drawn    <seconds until every photo in the budget is drawn / 10 s>
//   ratio web_small_pictures_2000 <seconds until finished and all drawn / 2 s>
//   ratio web_data_pictures_2000  <seconds until finished and all drawn / 2 s>
// A case whose process ended, whose page failed or that left a box white prints nan. The longest
// turn of the main run loop (renderings aside) and the longest rendering of the window (which may
// wait for the page's pixels) are printed for each: the main thread stays free.

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/ChildProcess.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageChild.h"
#include "foundation/NSData+Base64.h"
#include "foundation/NSRunLoop.h"
#include "graphics/CGImage.h"
#include "graphics/UIColor.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "tests/graphics/JPEGWriter.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using benchsupport::readFile;
using benchsupport::runSelf;
using Clock = std::chrono::steady_clock;

constexpr double kChildSeconds = 60;
constexpr double kDrawnWithinSeconds = 10;
constexpr CGFloat kViewW = 375, kViewH = 667;

std::string cacheDir() {
    return benchsupport::benchCacheDir("web-picture-pages-bench");
}

// A camera photo's worth of detail, progressive, written whole and then renamed.
int makePhoto(const std::string& dir) {
    return benchsupport::makeFileOnce(dir, "camera.jpg", [] {
        return jpegwriter::write({4032, 3024, 3, true, true, false, 95});
    });
}

// An 8 x 8 PNG of a colour of its own (none of them white).
std::string smallPNG(int i) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(8, 8), true, 1);
    UIColor::colorWithRed((i % 200) / 255.0, ((i / 200) * 20 % 200) / 255.0, 0.6, 1)->setFill();
    UIRectFill(CGRectMake(0, 0, 8, 8));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    auto data = UIImagePNGRepresentation(image);
    return data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length()) : std::string();
}

struct Case {
    std::map<std::string, benchsupport::PageReply> routes;
    int count = 0, expected = 0;
    int boxW = 0, boxH = 0, perRow = 0;
};

Case makeCase(const std::string& name, const std::string& dir) {
    Case c;
    std::string boxes;
    auto box = [&](const std::string& src) {
        boxes += "<img style=\"display:block;float:left\" width=\"" + std::to_string(c.boxW) +
                 "\" height=\"" + std::to_string(c.boxH) + "\" src=\"" + src + "\">";
    };
    if (name == "photos_200") {
        c.count = 200, c.boxW = 20, c.boxH = 15, c.perRow = 18;
        auto photo = std::make_shared<const std::string>(readFile(dir + "/camera.jpg"));
        // The pictures' bytes in all: those past it fail, as they should.
        const std::uint64_t budget = detail::WebPictureLimits{}.maxPictureBytesInAll;
        c.expected = photo->empty() ? 1 : int(std::min<std::uint64_t>(200, budget / photo->size()));
        for (int i = 0; i < c.count; ++i) {
            const std::string path = "/photo" + std::to_string(i) + ".jpg";
            c.routes[path] = {"image/jpeg", photo};
            box(path);
        }
    } else if (name == "small_2000" || name == "small_20" || name == "data_2000") {
        c.count = name == "small_20" ? 20 : 2000, c.boxW = 8, c.boxH = 8, c.perRow = 46;
        c.expected = c.count;
        const bool inPage = name == "data_2000";
        for (int i = 0; i < c.count; ++i) {
            const std::string png = smallPNG(i);
            if (inPage) {
                box("data:image/png;base64," + NSData_Base64::base64EncodedString(png));
            } else {
                const std::string path = "/p" + std::to_string(i) + ".png";
                c.routes[path] = {"image/png", png};
                box(path);
            }
        }
    }
    c.routes["/"] = {"text/html; charset=utf-8", "<html><body style=\"margin:0\"><div style=\"width:" +
                                                     std::to_string(c.boxW * c.perRow) + "px\">" + boxes +
                                                     "</div></body></html>"};
    return c;
}

// The boxes whose middle the window drew in something other than white.
int drawnBoxes(const Ref<UIWindow>& window, const Case& c) {
    auto image = UIWindowRenderer::imageOfView(window, 1);
    if (!image || !image->CGImage()) return 0;
    const NSData pixels = detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    const std::size_t width = image->CGImage()->width(), height = image->CGImage()->height();
    int drawn = 0;
    for (int i = 0; i < c.count; ++i) {
        const std::size_t x = std::size_t((i % c.perRow) * c.boxW + c.boxW / 2);
        const std::size_t y = std::size_t((i / c.perRow) * c.boxH + c.boxH / 2);
        if (x >= width || y >= height) continue;
        const std::uint8_t* p = pixels.bytes() + (y * width + x) * 4;
        drawn += !(p[0] > 240 && p[1] > 240 && p[2] > 240);
    }
    return drawn;
}

int runChild(const std::string& name, const std::string& dir) {
    Case c = makeCase(name, dir);
    if (c.count == 0) {
        std::fprintf(stderr, "no case %s\n", name.c_str());
        return 2;
    }
    benchsupport::PageServer server(std::move(c.routes));
    auto window = make<UIWindow>(CGRectMake(0, 0, kViewW, kViewH));
    window->setHidden(false);
    auto web = make<UIWebView>(CGRectMake(0, 0, kViewW, kViewH));
    window->addSubview(web);
    auto end = make<benchsupport::PageEnd>();
    web->setDelegate(end);
    // The spare is started when a web view is made: a load does not wait for it.
    for (int i = 0; i < 50; ++i) NSRunLoop::mainRunLoop()->runOnce(NSDefaultRunLoopMode, 0.01);

    auto loop = NSRunLoop::mainRunLoop();
    double longestTurn = 0;
    auto turn = [&] {
        const auto before = Clock::now();
        loop->runOnce(NSDefaultRunLoopMode, 0.005);
        longestTurn = std::max(longestTurn, std::chrono::duration<double>(Clock::now() - before).count());
    };
    const auto begin = Clock::now();
    auto since = [&] { return std::chrono::duration<double>(Clock::now() - begin).count(); };
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/"))));
    while (!end->outcome && since() < kChildSeconds) turn();
    const double finished = end->outcome ? since() : -1;
    const int pid = web->pageProcessID();
    int drawn = 0;
    double allDrawn = -1, longestRendering = 0;
    if (end->outcome && std::strcmp(end->outcome, "finished") == 0) {
        while (since() < kDrawnWithinSeconds) {
            const auto before = Clock::now();
            drawn = drawnBoxes(window, c);
            longestRendering =
                std::max(longestRendering, std::chrono::duration<double>(Clock::now() - before).count());
            if (drawn >= c.expected) {
                allDrawn = since();
                break;
            }
            const auto until = Clock::now() + std::chrono::milliseconds(100);
            while (Clock::now() < until) turn();
        }
    }
    const bool sameProcess = pid != 0 && web->pageProcessID() == pid;
    std::printf("outcome %s %.4f %.4f %d %d %d %.4f %.4f\n", end->outcome ? end->outcome : "timed-out",
                finished, allDrawn, drawn, c.expected, sameProcess ? 1 : 0, longestTurn * 1000,
                longestRendering * 1000);
    std::fflush(stdout);
    // Server threads and workers may still be busy with the page: no orderly teardown.
    _exit(0);
}

// ---- the parent ------------------------------------------------------------------------------

struct Outcome {
    std::string how = "crashed-or-hung";
    double finished = -1, allDrawn = -1, longestTurnMs = -1, longestRenderingMs = -1;
    int drawn = 0, expected = 0;
    bool sameProcess = false;
    bool whole() const { return how == "finished" && sameProcess && allDrawn >= 0; }
};
std::map<std::string, Outcome>& outcomes() {
    static std::map<std::string, Outcome> map;
    return map;
}

void BM_PicturePage(benchmark::State& state, std::string name) {
    Outcome outcome;
    for (auto _ : state) {
        const std::string text = runSelf({"bench", "--page", name, cacheDir()}, kChildSeconds + 30);
        char how[64] = "";
        int same = 0;
        Outcome o;
        if (std::sscanf(text.c_str(), "outcome %63s %lf %lf %d %d %d %lf %lf", how, &o.finished, &o.allDrawn,
                        &o.drawn, &o.expected, &same, &o.longestTurnMs, &o.longestRenderingMs) == 8) {
            o.how = how;
            o.sameProcess = same != 0;
        }
        outcome = o;
    }
    state.counters["finished_s"] = outcome.finished;
    state.counters["drawn"] = outcome.drawn;
    outcomes()[name] = outcome;
}

void report(const char* ratio, const std::string& name, bool untilDrawn, double target) {
    auto& all = outcomes();
    auto found = all.find(name);
    if (found == all.end()) return;
    const Outcome& o = found->second;
    const double seconds = untilDrawn ? o.allDrawn : std::max(o.finished, 0.0);
    if (!o.whole())
        std::printf("ratio %s nan\n", ratio);
    else
        std::printf("ratio %s %.4g\n", ratio, seconds / target);
    std::printf("  %s: %s after %.3f s, %d of %d pictures drawn%s%s, the process %s; longest main-thread "
                "turn %.1f ms, longest rendering of the window %.1f ms; target: at most 1.0 (%g s)\n",
                name.c_str(), o.how.c_str(), o.finished, o.drawn, o.expected, o.allDrawn >= 0 ? " by " : "",
                o.allDrawn >= 0 ? (std::to_string(o.allDrawn) + " s").c_str() : "",
                o.sameProcess ? "lived" : "ended", o.longestTurnMs, o.longestRenderingMs, target);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) return makePhoto(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--page") == 0) return runChild(argv[2], argv[3]);

    benchmark::Initialize(&argc, argv);
    if (!benchsupport::madeInChild(cacheDir(), "the photo")) return 1;
    for (const char* name : {"small_20", "small_2000", "data_2000", "photos_200"})
        benchmark::RegisterBenchmark((std::string("BM_PicturePage/") + name).c_str(), BM_PicturePage, name)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    report("web_photos_200_finished", "photos_200", false, 2);
    report("web_photos_200_drawn", "photos_200", true, kDrawnWithinSeconds);
    report("web_small_pictures_2000", "small_2000", true, 2);
    report("web_data_pictures_2000", "data_2000", true, 2);
    if (auto ref = outcomes().find("small_20"); ref != outcomes().end())
        std::printf("  reference: 20 small pictures finished after %.3f s and were drawn by %.3f s\n",
                    ref->second.finished, ref->second.allDrawn);
    return 0;
}
