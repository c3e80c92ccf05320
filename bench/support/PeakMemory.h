#pragma once
// This process's peak resident size (VmHWM), for the benchmarks that report memory beside time:
// reset before each case where the kernel allows, so that each case reports its own peak.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace benchsupport {

// This process's peak resident size in KB (-1 when unknown).
inline long peakKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// In MB, 0 when unknown.
inline double peakMB() {
    const long kb = peakKB();
    return kb < 0 ? 0 : double(kb) / 1024.0;
}

// The peak is reset (Linux: 5 to clear_refs) after what the last case freed is given back.
inline void resetPeak() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The peak of each case that ran, by its name, for the lines printed after the run.
inline std::map<std::string, double>& casePeaksMB() {
    static std::map<std::string, double> peaks;
    return peaks;
}

// Keeps the peak since the last reset as the case's, and shows it among its counters.
inline void recordPeak(benchmark::State& state, const std::string& name) {
    const double mb = peakMB();
    casePeaksMB()[name] = mb;
    state.counters["peak_MB"] = mb;
}

}  // namespace benchsupport
