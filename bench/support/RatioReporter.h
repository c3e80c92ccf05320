#pragma once
// The console reporter every benchmark program runs with: it keeps each benchmark's time per
// iteration (the median when repetitions are aggregated) so that the program can end with its
// "ratio <name> <ours over reference>" lines, measured side by side in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace benchsupport {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    enum class Clock { Real, CPU };

    // Plain text, so the ratio lines that follow start clean.
    explicit RatioReporter(Clock clock = Clock::Real) : ConsoleReporter(OO_Tabular), clock_(clock) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate ? run.aggregate_name != "median" : run.iterations <= 0) continue;
            // Keyed by the function's name alone, without options such as "/min_time:2.000".
            times_[run.run_name.function_name] =
                clock_ == Clock::CPU ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The time per iteration of a benchmark that ran, in its own unit.
    std::optional<double> time(const std::string& benchmark) const {
        auto found = times_.find(benchmark);
        if (found == times_.end()) return std::nullopt;
        return found->second;
    }

    // Prints "ratio <name> <ours / reference>" and the two times; nothing when either did not run
    // (a filter left it out). Answers the ratio.
    std::optional<double> printRatio(const char* name, const std::string& ours, const std::string& reference,
                                     const char* unit) const {
        auto a = time(ours), b = time(reference);
        if (!a || !b || *b <= 0) return std::nullopt;
        std::printf("ratio %s %.3f\n", name, *a / *b);
        std::printf("  %s %.3f %s, %s %.3f %s\n", ours.c_str(), *a, unit, reference.c_str(), *b, unit);
        return *a / *b;
    }

  private:
    Clock clock_;
    std::map<std::string, double> times_;
};

}  // namespace benchsupport
