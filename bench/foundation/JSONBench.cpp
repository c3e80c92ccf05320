// Reading and writing a server-reply-shaped JSON document of about 1 MB: our reader (which builds
// Values) and writer against RapidJSON's document parse and writer, side by side in one run.
// Each is repeated and compared by the median of its CPU time, which other work on a shared
// machine disturbs least. Targets: reading and writing each take at most the reference's time
// (ratio <= 1.0), writing with the platform's checks the reference does not make (every string
// checked as UTF-8, "/" escaped).
//
// Both readers allocate heavily, so each one's speed depends on the heap the one before left
// behind. The repetitions of the two are run in random interleaved order, and each starts after
// one untimed read by both readers.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "bench/support/SideBySide.h"
#include "foundation/NSJSONSerialization.h"

namespace {

// A reply envelope with records of about fifteen keys each: ids, Chinese and Latin text, URLs,
// integers, reals, Booleans, nulls and a nested array.
std::string makeReply(std::size_t targetBytes) {
    static const char* const kNames[] = {"改装达人",    "Speedster", "赛道之王",
                                         "Blue Falcon", "老司机",    "Midnight Run"};
    static const char* const kCities[] = {"上海", "北京", "广州", "Shenzhen", "Chengdu", "杭州"};
    std::string out = "{\"resultCode\":0,\"errmsg\":\"\",\"data\":[";
    for (std::size_t i = 0; out.size() < targetBytes; ++i) {
        if (i) out += ',';
        char buf[1024];
        std::snprintf(
            buf, sizeof buf,
            "{\"id\":%zu,\"uid\":\"%zu\",\"user_nickname\":\"%s%zu\",\"user_logo\":\"http://img.example.com/"
            "avatar/"
            "%zu/thumb_120x120.jpg\",\"user_sign\":\"这个人很懒，什么都没有留下 — nothing here yet #%zu\","
            "\"city\":\"%s\",\"cars_name\":\"Model %zu GT 运动版\",\"price\":%zu.%02zu,\"score\":%g,"
            "\"like\":%zu,\"is_like\":%s,\"is_vip\":%s,\"remark\":null,\"created\":\"2016-0%zu-1%zu "
            "12:3%zu:00\","
            "\"tags\":[\"改装\",\"turbo\",%zu,%s,null],\"cover\":\"https://cdn.example.com/cover/%zu.png\"}",
            i, 100000 + i * 7, kNames[i % 6], i, i, i, kCities[i % 6], i % 97, 10000 + i * 13, i % 100,
            127.5 + static_cast<double>(i % 10) / 8.0, i * 3 % 1000, i % 2 ? "true" : "false",
            i % 3 ? "false" : "true", 1 + i % 9, i % 10, i % 10, i, i % 5 ? "1.25" : "0.1", i);
        out += buf;
    }
    out += "]}";
    return out;
}

const std::string& reply() {
    static const std::string text = makeReply(1 << 20);
    return text;
}

const NSData& replyData() {
    static const NSData data = NSData::fromString(reply());
    return data;
}

void countBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

// Before every read repetition, one untimed read by each reader, the two taking turns at going
// last, so that no reader is always measured on a heap the other shaped.
void settleHeap(const benchmark::State&) {
    auto ours = [] {
        benchmark::DoNotOptimize(NSJSONSerialization::JSONObjectWithData(replyData(), 0, nullptr));
    };
    auto reference = [] {
        rapidjson::Document doc;
        doc.Parse(reply().data(), reply().size());
        benchmark::DoNotOptimize(doc);
    };
    benchsupport::settleInTurn(ours, reference);
}

void BM_ReadOurs(benchmark::State& state) {
    for (auto _ : state) {
        Value v = NSJSONSerialization::JSONObjectWithData(replyData(), 0, nullptr);
        benchmark::DoNotOptimize(v);
    }
    countBytes(state);
}

void BM_ReadReference(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(reply().data(), reply().size());
        benchmark::DoNotOptimize(doc);
    }
    countBytes(state);
}

void BM_WriteOurs(benchmark::State& state) {
    Value v = NSJSONSerialization::JSONObjectWithData(replyData(), 0, nullptr);
    for (auto _ : state) {
        auto data = NSJSONSerialization::dataWithJSONObject(v, 0, nullptr);
        benchmark::DoNotOptimize(data);
    }
    countBytes(state);
}

void BM_WriteReference(benchmark::State& state) {
    rapidjson::Document doc;
    doc.Parse(reply().data(), reply().size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    countBytes(state);
}

BENCHMARK(BM_ReadOurs)
    ->Unit(benchmark::kMillisecond)
    ->Setup(settleHeap)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadReference)
    ->Unit(benchmark::kMillisecond)
    ->Setup(settleHeap)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteOurs)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteReference)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    benchsupport::initializeInterleaved(argc, argv);
    std::printf("document: %zu bytes\n", reply().size());
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("json_read", "BM_ReadOurs", "BM_ReadReference", "ms");
    std::printf("  target json_read <= 1.000\n");
    reporter.printRatio("json_write", "BM_WriteOurs", "BM_WriteReference", "ms");
    std::printf("  target json_write <= 1.000\n");
    return 0;
}
