// Inserting 100,000 distinct keys one by one into a dictionary, against a standard hash map from
// strings doing the same, side by side in one run. The dictionary also keeps insertion order and
// answers lookups at every step, so it is allowed to cost a few times the map, never to grow
// faster than linearly.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "foundation/Value.h"

namespace {

constexpr std::size_t kKeys = 100000;
constexpr double kTarget = 3.0;

const std::vector<std::string>& keys() {
    static const std::vector<std::string> k = [] {
        std::vector<std::string> out;
        out.reserve(kKeys);
        // Keys shaped like the records' ids and names, some past the short-string size.
        for (std::size_t i = 0; i < kKeys; ++i) {
            out.push_back((i % 3 ? "user_" : "car_model_option_") + std::to_string(i * 7919 % 1000003));
        }
        return out;
    }();
    return k;
}

void BM_InsertOurs(benchmark::State& state) {
    for (auto _ : state) {
        Dictionary d;
        long i = 0;
        for (const std::string& key : keys()) d.setObject(key, Value(i++));
        benchmark::DoNotOptimize(d.count());
    }
}

void BM_InsertReference(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_map<std::string, Value> m;
        long i = 0;
        for (const std::string& key : keys()) m.insert_or_assign(std::string(key), Value(i++));
        benchmark::DoNotOptimize(m.size());
    }
}

BENCHMARK(BM_InsertOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertReference)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("keys: %zu distinct, inserted one by one\n", keys().size());
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.printRatio("dictionary_insert_vs_unordered_map", "BM_InsertOurs", "BM_InsertReference",
                            "ms"))
        std::printf("  reference: std::unordered_map; target at most %.1f\n", kTarget);
    return 0;
}
