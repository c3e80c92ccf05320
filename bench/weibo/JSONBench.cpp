// The Weibo SDK's JSON decoder on a reply-shaped document of about 1 MB against RapidJSON's DOM
// parse, side by side in one run, compared by the median CPU time of interleaved repetitions.
// Target: the decoder takes at most twice the reference's time (ratio <= 2.0).

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "bench/support/SideBySide.h"
#include "sdk/weibo/util/WBSDKJSONDecoder.h"

namespace {

// Records of about fifteen keys each: ids, Chinese and Latin text, URLs, integers, reals,
// Booleans, nulls, escapes and a nested array, as open-API replies carry them.
std::string makeDocument(std::size_t targetBytes) {
    static const char* const kNames[] = {"改装达人",    "Speedster", "赛道之王",
                                         "Blue Falcon", "老司机",    "Midnight"};
    std::string out = "{\"statuses\":[";
    for (std::size_t i = 0; out.size() < targetBytes; ++i) {
        if (i) out += ',';
        char buf[1024];
        std::snprintf(
            buf, sizeof buf,
            "{\"id\":%zu,\"idstr\":\"%llu\",\"text\":\"%s \\u8f6c\\u53d1 #%zu\\n\\\"quoted\\\"\","
            "\"source\":\"<a href=\\\"http://app.example.com/%zu\\\">client</a>\","
            "\"user\":{\"id\":%zu,\"screen_name\":\"%s%zu\",\"followers_count\":%zu,\"verified\":%s,"
            "\"avatar\":\"https://tva.example.com/crop.0.0.180.180.50/%zu.jpg\"},"
            "\"reposts_count\":%zu,\"comments_count\":%zu,\"geo\":null,\"favorited\":%s,"
            "\"score\":%zu.%02zu,\"pic_ids\":[\"a%zu\",\"b%zu\",%zu]}",
            i, 4000000000000000ull + i, kNames[i % 6], i, i % 17, 100000 + i * 7, kNames[(i + 3) % 6], i,
            i * 31 % 100000, i % 2 ? "true" : "false", i, i % 100, i % 37, i % 3 ? "false" : "true", i % 1000,
            i % 100, i, i + 1, i % 9);
        out += buf;
    }
    out += "],\"total_number\":123456,\"next_cursor\":0}";
    return out;
}

const std::string& document() {
    static const std::string text = makeDocument(1 << 20);
    return text;
}

void settle(const benchmark::State&) {
    auto ours = [] {
        auto decoder = WBSDKJSONDecoder::decoder();
        benchmark::DoNotOptimize(decoder->objectWithUTF8String(document().data(), document().size()));
    };
    auto reference = [] {
        rapidjson::Document doc;
        doc.Parse(document().data(), document().size());
        benchmark::DoNotOptimize(doc);
    };
    benchsupport::settleInTurn(ours, reference);
}

void BM_DecodeOurs(benchmark::State& state) {
    auto decoder = WBSDKJSONDecoder::decoder();
    for (auto _ : state) {
        Value v = decoder->objectWithUTF8String(document().data(), document().size());
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}

void BM_DecodeReference(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(document().data(), document().size());
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document().size()));
}

BENCHMARK(BM_DecodeOurs)
    ->Unit(benchmark::kMillisecond)
    ->Setup(settle)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DecodeReference)
    ->Unit(benchmark::kMillisecond)
    ->Setup(settle)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    benchsupport::initializeInterleaved(argc, argv);
    std::printf("document: %zu bytes\n", document().size());
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("weibo_json_decode", "BM_DecodeOurs", "BM_DecodeReference", "ms");
    std::printf("  target weibo_json_decode <= 2.000\n");
    return 0;
}
