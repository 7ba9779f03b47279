// The Google Benchmark binary of the analysis and the drawing: runs what the command line
// selects, then prints the summary lines and the FFT ratios.
#include "bench/AnalysisBench.h"
#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

using namespace kelvatone::bench;

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    printFftRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
