// Internal to the real FFT: the complex radix stages in their two builds. The wide build
// (256-bit vectors, on processors with AVX, Linux only) runs the same operations on every
// element as the portable one, so both give the same bits; the dispatch only changes speed.
#pragma once

#include <cstdint>

// Whether this build and this processor have the wide stages.
bool wideFftStagesAvailable();

// The radix stages of the complex transform of m pairs (natural order in, bit-reversed
// order out) in the wide build. Only when wideFftStagesAvailable().
void wideFftStages(bool inverse, int m, double* a, const double* twiddles);

// realFft with the wide stages allowed or not: lets the tests compare the two builds.
void realFftWithStages(int n, int direction, double* a, int32_t* work, double* table,
                       bool allowWide);
