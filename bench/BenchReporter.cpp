#include "bench/BenchReporter.h"

#include <algorithm>
#include <cstdio>

namespace kelvatone::bench {

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;

double medianOf(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

} // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
            continue;
        const double perIteration = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        cpuMicroseconds[run.benchmark_name()].push_back(perIteration * kMicrosecondsPerSecond);
    }
    ConsoleReporter::ReportRuns(runs);
}

double SummaryReporter::medianMicroseconds(const std::string& name) const {
    const auto found = cpuMicroseconds.find(name);
    return found == cpuMicroseconds.end() ? 0.0 : medianOf(found->second);
}

double SummaryReporter::minimumMicroseconds(const std::string& name) const {
    const auto found = cpuMicroseconds.find(name);
    if (found == cpuMicroseconds.end() || found->second.empty())
        return 0.0;
    return *std::min_element(found->second.begin(), found->second.end());
}

void SummaryReporter::printSummary() const {
    for (const auto& [name, times] : cpuMicroseconds)
        std::printf("RESULT %s median_us %.3f min_us %.3f repetitions %zu\n", name.c_str(),
                    medianOf(times), minimumMicroseconds(name), times.size());
}

} // namespace kelvatone::bench
