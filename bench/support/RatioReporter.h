#pragma once
// The console reporter every benchmark program runs with: it keeps each benchmark's wall and CPU
// time per iteration (the median when repetitions are aggregated) so that the program can end with
// its "ratio <name> <ours over reference>" lines, measured side by side in the same run.

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
            times_[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The time per iteration of a benchmark that ran, in its own unit, on the reporter's clock.
    std::optional<double> time(const std::string& benchmark) const {
        return clock_ == Clock::CPU ? cpuTime(benchmark) : realTime(benchmark);
    }
    std::optional<double> realTime(const std::string& benchmark) const {
        auto found = times_.find(benchmark);
        if (found == times_.end()) return std::nullopt;
        return found->second.real;
    }
    // The CPU time of the benchmark's own thread per iteration (work done on other threads is
    // not in it unless the benchmark measures the process).
    std::optional<double> cpuTime(const std::string& benchmark) const {
        auto found = times_.find(benchmark);
        if (found == times_.end()) return std::nullopt;
        return found->second.cpu;
    }

    // Prints "ratio <name> <ours / reference>" (four significant digits, so a tiny ratio still
    // reads) and the two times; nothing when either did not run (a filter left it out). Answers
    // the ratio.
    std::optional<double> printRatio(const char* name, const std::string& ours, const std::string& reference,
                                     const char* unit) const {
        auto a = time(ours), b = time(reference);
        if (!a || !b || *b <= 0) return std::nullopt;
        std::printf("ratio %s %.4g\n", name, *a / *b);
        std::printf("  %s %.4g %s, %s %.4g %s\n", ours.c_str(), *a, unit, reference.c_str(), *b, unit);
        return *a / *b;
    }

    // Prints the CPU time per iteration of both sides beside their wall time, so that a wall
    // ratio bought with a busy thread shows: "cpu <name> <ours cpu / reference cpu>".
    void printCPU(const char* name, const std::string& ours, const std::string& reference,
                  const char* unit) const {
        auto oc = cpuTime(ours), rc = cpuTime(reference), ow = realTime(ours), rw = realTime(reference);
        if (!oc || !rc || !ow || !rw || *rc <= 0) return;
        std::printf("cpu %s %.4g\n", name, *oc / *rc);
        std::printf("  %s cpu %.4g %s (wall %.4g), %s cpu %.4g %s (wall %.4g)\n", ours.c_str(), *oc, unit,
                    *ow, reference.c_str(), *rc, unit, *rw);
    }

  private:
    struct Times {
        double real = 0;
        double cpu = 0;
    };
    Clock clock_;
    std::map<std::string, Times> times_;
};

}  // namespace benchsupport
