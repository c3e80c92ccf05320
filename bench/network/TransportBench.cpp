// Small GETs one after another on one keep-alive connection to a loopback server: through a
// URL connection (delegate style, the run loop turning), through synchronous requests, and
// through one reused plain libcurl handle, in one run.

#include "bench/support/BenchSupport.h"
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/NSRunLoop.h"
#include "network/NSURLCache.h"
#include "network/NSURLConnection.h"
#include "tests/support/LoopbackHTTPServer.h"

namespace {

constexpr int kRequests = 2000;

testsupport::LoopbackHTTPServer& server() {
    static testsupport::LoopbackHTTPServer* s = [] {
        auto* srv = new testsupport::LoopbackHTTPServer();
        srv->setReply("/small", testsupport::ScriptedReply::text(
                                    "{\"code\":0,\"msg\":\"ok\",\"data\":[1,2,3]}", 200, "application/json"));
        return srv;
    }();
    return *s;
}

class CountingDelegate : public NSURLConnectionDataDelegate {
  public:
    std::size_t bytes = 0;
    bool done = false;
    bool failed = false;
    void connectionDidReceiveData(const Ref<NSURLConnection>&, const NSData& data) override {
        bytes += data.length();
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override { done = true; }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>&) override {
        done = failed = true;
    }
};

// Each runs kRequests GETs and answers whether all succeeded.
bool runDelegateStyle() {
    static auto request = NSURLRequest::requestWithURL(NSURL::URLWithString(server().url("/small")));
    auto loop = NSRunLoop::currentRunLoop();
    bool ok = true;
    for (int i = 0; i < kRequests; ++i) {
        auto d = std::make_shared<CountingDelegate>();
        auto c = make<NSURLConnection>(request, d, true);
        while (!d->done) loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
        ok = ok && !d->failed;
    }
    return ok;
}

bool runSynchronous() {
    static auto request = NSURLRequest::requestWithURL(NSURL::URLWithString(server().url("/small")));
    bool ok = true;
    for (int i = 0; i < kRequests; ++i)
        ok = NSURLConnection::sendSynchronousRequest(request, nullptr, nullptr) && ok;
    return ok;
}

bool runPlainCurl() {
    return benchsupport::plainCurlGETs(server().url("/small"), kRequests);
}

void BM_ConnectionDelegate(benchmark::State& state) {
    NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
    for (auto _ : state) {
        if (!runDelegateStyle()) state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_ConnectionDelegate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ConnectionSynchronous(benchmark::State& state) {
    NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
    for (auto _ : state) {
        if (!runSynchronous()) state.SkipWithError("request failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_ConnectionSynchronous)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PlainCurl(benchmark::State& state) {
    for (auto _ : state) {
        if (!runPlainCurl()) state.SkipWithError("curl failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_PlainCurl)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

using benchsupport::median;
using benchsupport::namedThreadsCPUSeconds;
using benchsupport::secondsFor;
using benchsupport::threadCPUSeconds;

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    std::printf("%d small GETs per iteration on one keep-alive connection\n", kRequests);
    NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // The ratios come from rounds that alternate the three ways, so that the machine's load,
    // which drifts from second to second, weighs on each alike. Throughput: ours over plain
    // libcurl, so higher is better here.
    // Beside the wall time, the CPU time each way costs the client side: the calling thread and,
    // for ours, the transport thread (the loopback server's threads are not counted).
    constexpr int kRounds = 7;
    std::vector<double> delegateRatio, syncRatio, delegateRate, syncRate, plainRate;
    std::vector<double> delegateCPU, syncCPU, plainCPU;
    auto clientCPU = [] { return threadCPUSeconds() + namedThreadsCPUSeconds("URLTransport"); };
    auto timed = [&](bool (*run)(), std::vector<double>& cpu) {
        const double before = clientCPU();
        const double seconds = secondsFor(run);
        cpu.push_back((clientCPU() - before) / kRequests * 1e6);
        return seconds;
    };
    for (int round = 0; round < kRounds; ++round) {
        double plain = timed(runPlainCurl, plainCPU);
        double delegate = timed(runDelegateStyle, delegateCPU);
        double sync = timed(runSynchronous, syncCPU);
        delegateRatio.push_back(plain / delegate);
        syncRatio.push_back(plain / sync);
        delegateRate.push_back(kRequests / delegate);
        syncRate.push_back(kRequests / sync);
        plainRate.push_back(kRequests / plain);
    }
    std::printf("ratio get_throughput %.3f\n", median(delegateRatio));
    std::printf(
        "  throughput (higher is better), median of %d alternating rounds: connection with delegate %.0f "
        "requests/s, plain libcurl %.0f requests/s\n",
        kRounds, median(delegateRate), median(plainRate));
    std::printf("ratio get_throughput_synchronous %.3f\n", median(syncRatio));
    std::printf("  throughput (higher is better): synchronous requests %.0f requests/s, plain libcurl %.0f "
                "requests/s\n",
                median(syncRate), median(plainRate));
    std::printf(
        "cpu get_per_request_us connection with delegate %.1f, synchronous %.1f, plain libcurl %.1f\n",
        median(delegateCPU), median(syncCPU), median(plainCPU));
    std::printf(
        "  (client-side CPU per request, medians; ours counts the calling and the transport thread)\n");
    std::printf("cpu get_delegate_vs_libcurl %.4g\n", median(delegateCPU) / median(plainCPU));
    return 0;
}
