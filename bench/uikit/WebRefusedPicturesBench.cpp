// What a page of many pictures that all fail at once costs a web view: each failure must cost the
// same however many pictures the page has.
//
// Each case runs in a child process of its own (this program again, with the case's count): the
// child serves the page on loopback and keeps a loopback port bound without listening, so that
// every picture's connection is refused at once (the cheapest failure that still goes the whole
// way through the URL loading system: no server thread, no reply to read). It loads the page into
// a 375-point web view in a window with the default limits and runs the main run loop until the
// page finishes or fails (at most kChildSeconds), timed from the load call to its end. The page:
// `count` pictures of 8 x 8 in fixed boxes, each at its own URL on the refusing port.
//
// Ends with "ratio web_refused_pictures_100k <seconds / 10 s>" for 99,990 pictures (the page's
// elements stay within their bound of 100,000), target at most 1.0, and "ratio
// web_refused_pictures_linear <(t100k / 99,990) / (t20k / 20,000)>", target at most 1.5 (each
// failure costs the same on a page five times the size); the 20,000 and 50,000 times are printed
// as references.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bench/support/ChildProcess.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/WebPageChild.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindow.h"

namespace {

using benchsupport::runSelf;

constexpr double kTargetSeconds = 10;
constexpr double kTargetLinear = 1.5;
constexpr double kChildSeconds = 150;
constexpr int kLargest = 99'990;
constexpr int kCounts[] = {20'000, 50'000, kLargest};
constexpr CGFloat kViewW = 375, kViewH = 667;

// A loopback port bound but not listening: the kernel refuses every connection to it, and no
// other program can take the port while it is held.
int refusingPort(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// ---- the child: a loopback server, a refusing port and a web view ------------------------------

int runChild(int count) {
    int port = 0;
    const int refusing = refusingPort(&port);
    if (refusing < 0) {
        std::fprintf(stderr, "no loopback port to refuse from\n");
        return 2;
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/picture";
    std::string page = "<html><body style=\"margin:0\"><div style=\"width:360px\">";
    page.reserve(std::size_t(count) * 110 + 256);
    for (int i = 0; i < count; ++i)
        page += "<img style=\"display:block;float:left\" width=\"8\" height=\"8\" src=\"" + base +
                std::to_string(i) + ".png\">";
    page += "</div></body></html>";
    std::map<std::string, benchsupport::PageReply> routes;
    routes["/"] = {"text/html; charset=utf-8", std::move(page)};
    benchsupport::PageServer server(std::move(routes));

    auto window = make<UIWindow>(CGRectMake(0, 0, kViewW, kViewH));
    window->setHidden(false);
    auto web = make<UIWebView>(CGRectMake(0, 0, kViewW, kViewH));
    window->addSubview(web);
    const auto begin = std::chrono::steady_clock::now();
    const char* outcome = benchsupport::loadUntilEnded(web, server.url("/"), kChildSeconds);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("seconds %.6f %s\n", seconds, outcome);
    std::fflush(stdout);
    // Server threads and workers may still be busy: no orderly teardown.
    _exit(0);
}

// ---- the parent ------------------------------------------------------------------------------

struct Outcome {
    double seconds = -1;
    std::string how = "crashed or hung";
};
std::map<int, Outcome>& outcomes() {
    static std::map<int, Outcome> map;
    return map;
}

void BM_RefusedPictures(benchmark::State& state, int count) {
    Outcome outcome;
    for (auto _ : state) {
        const std::string text = runSelf({"bench", "--pictures", std::to_string(count)}, kChildSeconds + 30);
        double seconds = 0;
        char how[64] = "";
        outcome = Outcome();
        if (std::sscanf(text.c_str(), "seconds %lf %63s", &seconds, how) == 2) outcome = {seconds, how};
        // A run that did not finish has no time worth comparing: the bound stands in for it.
        state.SetIterationTime(outcome.seconds >= 0 ? outcome.seconds : kChildSeconds);
    }
    state.counters["pictures"] = count;
    outcomes()[count] = outcome;
}

// The time of a page that finished, else nullopt.
std::optional<double> finished(int count) {
    auto it = outcomes().find(count);
    if (it == outcomes().end() || it->second.how != "finished") return std::nullopt;
    return it->second.seconds;
}

void describe(int count) {
    auto it = outcomes().find(count);
    if (it == outcomes().end()) return;
    std::printf("  %d refused pictures: %.3f s (%s)\n", count, it->second.seconds, it->second.how.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pictures") == 0) return runChild(std::atoi(argv[2]));

    benchmark::Initialize(&argc, argv);
    for (int count : kCounts)
        benchmark::RegisterBenchmark(("BM_RefusedPictures/" + std::to_string(count)).c_str(),
                                     BM_RefusedPictures, count)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto largest = finished(kLargest), smallest = finished(kCounts[0]);
    if (largest)
        std::printf("ratio web_refused_pictures_100k %.4g\n", *largest / kTargetSeconds);
    else
        std::printf("ratio web_refused_pictures_100k nan\n");
    describe(kLargest);
    std::printf("  target: at most 1.0 (%d pictures finished within %g s)\n", kLargest, kTargetSeconds);
    if (largest && smallest)
        std::printf("ratio web_refused_pictures_linear %.4g\n",
                    (*largest / kLargest) / (*smallest / kCounts[0]));
    else
        std::printf("ratio web_refused_pictures_linear nan\n");
    describe(kCounts[0]);
    describe(kCounts[1]);
    std::printf("  target: at most %g (each picture costs the same on a page five times the size)\n",
                kTargetLinear);
    return 0;
}
