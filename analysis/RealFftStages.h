// Internal to the real FFT: the complex radix stages in their two builds. The wide build
// (256-bit vectors, on processors with AVX, Linux only) runs the same operations on every
// element as the portable one, so both give the same bits; the dispatch only changes speed.
#pragma once

#include <cstdint>

namespace kelvatone::analysis {

// Whether this build and this processor have the wide stages.
bool wideFftStagesAvailable();

// The complex transform of m >= 16 pairs, natural order in and out, in the wide build. Only
// when wideFftStagesAvailable().
void wideFftTransform(bool inverse, int m, double* a, const double* twiddles);

// The pass between the complex transform and the real spectrum (forward: after, inverse:
// before) for bins 2 .. n/4-1 in the wide build; bin 1 is left to the caller. n >= 32.
void wideSeparationPass(bool inverse, int n, double* a, int32_t nc, const double* c);

// realFft with the wide stages allowed or not: lets the tests compare the two builds.
// Answers whether the wide build ran (the complex transform and the separation pass both).
bool realFftWithStages(int n, int direction, double* a, int32_t* work, double* table,
                       bool allowWide);

} // namespace kelvatone::analysis
