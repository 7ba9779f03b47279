// The analysis benchmarks' own output beside the summary lines.
#pragma once

#include "bench/BenchReporter.h"

namespace kelvatone::bench {

// Prints "realFft / FFTW at n = N: R" and a RESULT line per size, from the medians.
void printFftRatios(const SummaryReporter& reporter);

} // namespace kelvatone::bench
