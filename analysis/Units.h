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

// A tempered semitone and an octave, in cents (whole numbers, for PitchCents arithmetic).
constexpr int32_t kCentsPerSemitone = 100;
constexpr int32_t kCentsPerOctave = 1200;

// The MIDI note number of C0: MIDI note m is NoteNumber m - 12 (MIDI 69 is A4).
constexpr int32_t kMidiNoteOfC0 = 12;

// The tempered pitch of a MIDI note, in cents above C0.
constexpr PitchCents midiNoteCents(int32_t midiNote) {
    return (midiNote - kMidiNoteOfC0) * kCentsPerSemitone;
}

// C0 in Hz and its base-2 logarithm, computed once at load.
extern const Hz c0Frequency;
extern const double log2C0Frequency;

// Frequency of a NoteNumber: 27.5 x 2^((n - 9) / 12) Hz.
Hz noteFrequency(NoteNumber n);

} // namespace kelvatone::analysis
