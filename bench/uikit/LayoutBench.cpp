// The layout solver's incremental path against solving from scratch: a row of boxes whose first
// gap changes, as an animated constraint constant does on every frame.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "uikit/ConstraintSolver.h"

using detail::ConstraintSolver;
using detail::LinearExpression;
using detail::SolverRelation;
using detail::SolverVariable;

namespace {

constexpr int kBoxes = 60;

// Builds the row into the solver; answers the handle of the first gap's constraint.
ConstraintSolver::Constraint buildRow(ConstraintSolver& s, double gap) {
    std::vector<SolverVariable> left, width;
    for (int i = 0; i < kBoxes; ++i) {
        left.push_back(s.addVariable());
        width.push_back(s.addVariable());
    }
    auto first = s.addConstraint(left[0], SolverRelation::Equal, gap);
    for (int i = 0; i < kBoxes; ++i) {
        s.addConstraint(width[i], SolverRelation::GreaterOrEqual, 10);
        s.addConstraint(width[i], SolverRelation::Equal, 44, 250);
        if (i > 0) {
            s.addConstraint(left[i], SolverRelation::Equal, LinearExpression(left[i - 1]) + width[i - 1] + 8);
            s.addConstraint(width[i], SolverRelation::Equal, width[0], 750);
        }
    }
    s.addConstraint(LinearExpression(left.back()) + width.back(), SolverRelation::LessOrEqual, 3000);
    return first;
}

void BM_ChangeConstantIncremental(benchmark::State& state) {
    ConstraintSolver s;
    auto first = buildRow(s, 0);
    double gap = 0;
    for (auto _ : state) {
        gap = gap > 100 ? 0 : gap + 1;
        s.setConstant(first, -gap);
        benchmark::DoNotOptimize(s.value(SolverVariable{1}));
    }
}

void BM_ChangeConstantFromScratch(benchmark::State& state) {
    double gap = 0;
    for (auto _ : state) {
        gap = gap > 100 ? 0 : gap + 1;
        ConstraintSolver s;
        buildRow(s, gap);
        benchmark::DoNotOptimize(s.value(SolverVariable{1}));
    }
}

BENCHMARK(BM_ChangeConstantIncremental)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChangeConstantFromScratch)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("layout_constant_change", "BM_ChangeConstantIncremental",
                        "BM_ChangeConstantFromScratch", "us");
    return 0;
}
