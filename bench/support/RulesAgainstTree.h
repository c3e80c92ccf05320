#pragma once
// The benchmarks that time a page with its rules against the same tree without them: each case
// runs as "BM_<case>" and, as its reference from the same run, "BM_<case>_tree", three times
// each, in milliseconds. The program ends with "ratio <prefix><case> <CPU ms per page / target>"
// and the tree's time beside it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"

namespace benchsupport {

struct RulesCase {
    const char* name;
    // Times the case's page, with its rules or without them.
    std::function<void(benchmark::State&, bool rules)> run;
};

// The whole program: registers the cases, runs them and prints their ratios; `done` says what
// the time covers ("built, styled, laid out and drawn").
inline int runRulesAgainstTree(int argc, char** argv, const char* prefix, const std::vector<RulesCase>& cases,
                               double targetMs, const char* done) {
    benchmark::Initialize(&argc, argv);
    for (const RulesCase& c : cases)
        for (const bool rules : {true, false})
            benchmark::RegisterBenchmark((std::string("BM_") + c.name + (rules ? "" : "_tree")).c_str(),
                                         [run = c.run, rules](benchmark::State& state) { run(state, rules); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
    RatioReporter reporter(RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const RulesCase& c : cases) {
        auto page = reporter.time(std::string("BM_") + c.name);
        auto tree = reporter.time(std::string("BM_") + c.name + "_tree");
        if (!page) continue;
        std::printf("ratio %s%s %.4g\n", prefix, c.name, *page / targetMs);
        std::printf("  %s in %.4g ms of CPU; target: at most %.0f ms (1.0)\n", done, *page, targetMs);
        if (tree) std::printf("  reference, the same tree without its rules: %.4g ms\n", *tree);
    }
    return 0;
}

}  // namespace benchsupport
