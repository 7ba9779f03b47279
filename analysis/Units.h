// The units the analysis works in. Plain aliases: they name what a number means where it is
// declared; the compiler does not tell them apart.
//
//   Hz          a frequency or a sample rate, cycles (or samples) per second;
//   Cents       a pitch interval in hundredths of a tempered semitone, 1200 to the octave;
//   SampleCount a length or position counted in samples of one mono stream at its own rate;
//   PitchCents  a pitch as whole cents above C0 (16.351597831287414 Hz), truncated toward
//               zero: A4 (440 Hz) is 5700; kNoPitch marks a frame without a pitch;
//   NoteNumber  a tempered note as semitones above C0: 57 is A4, 60 is C5.
//
// The constants and conversions are pure: any thread.
#pragma once

#include <cstdint>

namespace kelvatone::analysis {

using Hz = double;
using Cents = double;
using SampleCount = int32_t;
using PitchCents = int32_t;
using NoteNumber = int32_t;

constexpr PitchCents kNoPitch = -1;

// C0 in Hz and its base-2 logarithm, computed once at load.
extern const Hz c0Frequency;
extern const double log2C0Frequency;

// Frequency of a NoteNumber: 27.5 x 2^((n - 9) / 12) Hz.
Hz noteFrequency(NoteNumber n);

} // namespace kelvatone::analysis
