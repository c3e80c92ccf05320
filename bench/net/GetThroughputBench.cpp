// Small GETs one after another on one keep-alive connection to a loopback server: through the
// operation manager (request built by the serialiser, operation queue, network thread, JSON
// decoded on the processing queue, success block on the main queue) and through one reused
// plain libcurl easy handle, in one run. Ends with the ratio of throughputs, ours over plain
// libcurl: higher is better.

#include "bench/support/BenchSupport.h"
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/NSRunLoop.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "network/NSURLCache.h"
#include "tests/support/LoopbackHTTPServer.h"

namespace {

constexpr int kRequests = 2000;

testsupport::LoopbackHTTPServer& server() {
    static testsupport::LoopbackHTTPServer* s = [] {
        auto* srv = new testsupport::LoopbackHTTPServer();
        srv->setReply("/api/small",
                      testsupport::ScriptedReply::text("{\"code\":0,\"msg\":\"ok\",\"data\":[1,2,3]}", 200,
                                                       "application/json"));
        return srv;
    }();
    return *s;
}

// Each runs kRequests GETs, one after another, and answers whether all succeeded.
bool runManager() {
    static auto manager = make<HKHTTPRequestOperationManager>(NSURL::URLWithString(server().url("/api")));
    auto loop = NSRunLoop::currentRunLoop();
    bool ok = true;
    for (int i = 0; i < kRequests; ++i) {
        bool done = false;
        manager->GET(
            "small", Value(),
            [&](const Ref<HKHTTPRequestOperation>&, const Value& object) {
                ok = ok && object["code"].intValue() == 0;
                done = true;
            },
            [&](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>&) {
                ok = false;
                done = true;
            });
        while (!done) loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
    }
    return ok;
}

bool runPlainCurl() {
    return benchsupport::plainCurlGETs(server().url("/api/small"), kRequests);
}

void BM_OperationManagerGET(benchmark::State& state) {
    for (auto _ : state) {
        if (!runManager()) state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_OperationManagerGET)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PlainCurlGET(benchmark::State& state) {
    for (auto _ : state) {
        if (!runPlainCurl()) state.SkipWithError("curl failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_PlainCurlGET)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

using benchsupport::median;
using benchsupport::secondsFor;

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
    benchmark::Initialize(&argc, argv);
    std::printf("%d small GETs per iteration, one after another, on one keep-alive connection\n", kRequests);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // Rounds alternate the two ways so that the machine's drifting load weighs on both alike.
    constexpr int kRounds = 7;
    std::vector<double> ratio, ours, plain;
    for (int round = 0; round < kRounds; ++round) {
        double plainSeconds = secondsFor(runPlainCurl);
        double ourSeconds = secondsFor(runManager);
        ratio.push_back(plainSeconds / ourSeconds);
        ours.push_back(kRequests / ourSeconds);
        plain.push_back(kRequests / plainSeconds);
    }
    std::printf(
        "throughput (requests/s, median of %d rounds; higher is better): operation manager %.0f, plain "
        "libcurl %.0f\n",
        kRounds, median(ours), median(plain));
    std::printf("ratio get_throughput_vs_libcurl %.3f\n", median(ratio));
    std::printf("  (throughput ours / plain libcurl: higher is better; the target is at least 0.6)\n");
    return 0;
}
