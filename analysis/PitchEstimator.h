// The pitch estimator: the highest autocorrelation peak in the lag range of the analysis
// range, corrected for octave and twelfth errors by the spectrum's levels at related
// frequencies, then refined over the peaks at multiples of the period.
//
// A pure function of one analysed frame, seen through FrameView, and the search range: it
// reads the arrays, writes nothing and keeps nothing, so any thread may run it on arrays
// that no other thread writes meanwhile (in the plug-in: the audio thread, on the engine's
// arrays). It allocates nothing.
#pragma once

#include "analysis/Units.h"

namespace kelvatone::analysis {

// Energies and band levels are multiplied by this before division by the frame length.
constexpr double levelScale = 4906.0;

// One analysed frame of frameLength samples (a power of two, at least 8) at sampleRate.
// Both arrays hold frameLength values and belong to the caller.
struct FrameView {
    // The windowed frame's real transform, packed: spectrum[0] is the DC term, spectrum[1]
    // the Nyquist term, and spectrum[2k], spectrum[2k + 1] the real and imaginary parts of
    // bin k (bin width sampleRate / frameLength) for k = 1 .. frameLength/2 - 1.
    const double* spectrum = nullptr;
    // The frame's autocorrelation by lag, 0 .. frameLength - 1, unnormalised (the inverse
    // transform of the power spectrum).
    const double* correlation = nullptr;
    SampleCount frameLength = 0;
    Hz sampleRate = 0.0;
};

// The frequencies the pitch may lie between (the analysis range). A bound that is not a
// number searches nothing on its side.
struct SearchRange {
    Hz begin = 0.0;
    Hz end = 0.0;
};

// The estimator's stages: the lag of the chosen autocorrelation peak (0 if none), the
// candidate frequency after the octave and twelfth checks and its refinement over the
// period's multiples (Hz, 0 when there is no pitch), and the resulting pitch.
struct PitchSearch {
    SampleCount bestLag = 0;
    Hz candidate = 0.0;
    Hz refined = 0.0;
    PitchCents pitch = kNoPitch;
};
PitchSearch searchPitch(const FrameView& frame, const SearchRange& range);

// The pitch of the frame, or kNoPitch: searchPitch's last stage.
PitchCents estimatePitch(const FrameView& frame, const SearchRange& range);

// Cents above C0 of a frequency, truncated toward zero: 440 Hz gives 5700.
PitchCents pitchFromFrequency(Hz frequency);

// Spectral level around a frequency from the frame's packed spectrum: the RMS of the
// strongest bin within 1/48 of it and its two neighbours; bins outside 0..N/2-1 count as
// silent and a band without power has level 0. Unscaled (see levelScale).
double bandLevel(const FrameView& frame, Hz frequency);

} // namespace kelvatone::analysis
