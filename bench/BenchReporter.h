// The console reporter of the Google Benchmark binaries: keeps the CPU time of every
// repetition of every benchmark and prints, after the console table, one summary line
// per benchmark with the median and the minimum of those times, and the ratios that a
// benchmark pairs up. The machine is shared, so the median of several repetitions of
// CPU time is the figure; the minimum shows the undisturbed case.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace kelvatone::bench {

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;

    // Median CPU time per iteration in microseconds, 0 when the benchmark did not run.
    double medianMicroseconds(const std::string& name) const;
    double minimumMicroseconds(const std::string& name) const;

    // Lines "RESULT <name> median_us <m> min_us <n> repetitions <r>", in name order.
    void printSummary() const;

private:
    std::map<std::string, std::vector<double>> cpuMicroseconds;
};

} // namespace kelvatone::bench
