// Real discrete Fourier transform of a power-of-two length, in place, packed.
//
// Packed layout of a spectrum of n real samples x[0..n-1], for 1 <= k < n/2:
//   a[0]    = R0 = sum x[j]                       (DC)
//   a[1]    = Rh = sum x[j] (-1)^j                (the term at n/2)
//   a[2k]   = Rk = sum x[j] cos(2 pi j k / n)
//   a[2k+1] = Ik = sum x[j] sin(2 pi j k / n)     (the sine terms carry a plus sign)
// so a[2k] + i a[2k+1] = sum x[j] e^(+2 pi i j k / n).
//
// The inverse (direction < 0) maps a packed spectrum to
//   x[j] = (R0 + Rh (-1)^j) / 2 + sum over k = 1..n/2-1 of (Rk cos(2 pi j k / n) + Ik sin(...)).
// Neither direction normalises: the inverse of the forward result is (n/2) x the input.
//
// The caller owns the two work areas, in which the trigonometric tables are cached:
//   work:  int32, at least 2 + sqrt(n/2) entries. work[0] is the number of twiddle entries
//          built, work[1] the number of cosine entries built; writing 0 into work[0] forces
//          a rebuild. The rest is scratch for the bit reversal.
//   table: n/2 doubles: the twiddle table, followed by the cosine table.
// The tables are rebuilt only when a longer transform than the one they were built for is
// asked for; a shorter one uses them as they are. Apart from a rebuild the transform
// allocates nothing and calls no trigonometric function, so it may run on the audio thread.
// The results are bit-for-bit the same on every run and on every processor for one build:
// the vectorised code chosen at run time performs the same operations as the portable code.
#pragma once

#include <cstdint>

namespace kelvatone::analysis {

// any thread, on areas that no other thread uses at the time.
// n: a power of two, at least 2; direction >= 0 forward, < 0 inverse.
void realFft(int n, int direction, double* a, int32_t* work, double* table);

} // namespace kelvatone::analysis
