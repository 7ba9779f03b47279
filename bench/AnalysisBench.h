// The analysis benchmarks' own output beside the summary lines.
#pragma once

#include "bench/BenchReporter.h"

// Prints "realFft / FFTW at n = N: R" and a RESULT line per size, from the medians.
void printFftRatios(const SummaryReporter& reporter);
