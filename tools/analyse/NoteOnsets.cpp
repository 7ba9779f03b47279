#include "tools/analyse/NoteOnsets.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
// The level is measured over this window: long enough to resolve a semitone step from
// G3 up, short enough to place an attack within a few milliseconds.
constexpr double kLevelWindowSeconds = 0.046;
// The fundamental and this many harmonics above it count (a weak fundamental, as a sung
// vowel's, still shows).
constexpr int kHarmonics = 3;
// The level is sampled every this many seconds while searching.
constexpr double kSearchStepSeconds = 0.002;
// The note's level is the highest within this time after the pitch track's onset.
constexpr double kSettleSeconds = 0.1;
// The onset is searched for at most this long before the pitch track's onset (the track is
// late by up to this much where the note before rings on) ...
constexpr double kLongestLeadSeconds = 0.3;
// ... and never earlier than this long after the note before began.
constexpr double kShortestPrecedingSeconds = 0.05;
// The note began where its level, going back from its peak, fell below this share of it
// (-23 dB): slow attacks (a sung "oo", a flute) take long to rise through a higher share.
// Chosen on seeds 1 to 3 of bench/notes-compare.py (0.001 .. 0.1 tried).
constexpr double kRiseShare = 0.005;
// MIDI note 69 is A4 at 440 Hz.
constexpr double kA4Hz = 440.0;
constexpr int kA4Midi = 69;
constexpr double kCentsPerOctave = 1200.0;
constexpr double kCentsPerSemitone = 100.0;

double frequencyOf(const SungNote& note) {
    const double cents = (note.midiNote - kA4Midi) * kCentsPerSemitone + note.medianDeviationCents;
    return kA4Hz * std::pow(2.0, cents / kCentsPerOctave);
}

// When the level peaked, and its value there.
struct Peak {
    double seconds = 0.0;
    double level = 0.0;
};

} // namespace

double pitchLevel(const std::vector<float>& samples, double sampleRate, double frequency,
                  double centreSeconds, double windowSeconds) {
    const auto length = static_cast<long>(std::lround(windowSeconds * sampleRate));
    const long first = std::lround(centreSeconds * sampleRate) - length / 2;
    const long count = static_cast<long>(samples.size());
    double power = 0.0;
    for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic) {
        const double step = 2.0 * kPi * frequency * harmonic / sampleRate;
        if (step >= kPi)
            break;
        // Goertzel's recurrence at the harmonic's frequency over the windowed samples.
        const double coefficient = 2.0 * std::cos(step);
        double previous = 0.0, beforePrevious = 0.0;
        for (long i = 0; i < length; ++i) {
            const long at = first + i;
            const double sample = at >= 0 && at < count ? samples[static_cast<size_t>(at)] : 0.0;
            const double window =
                0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(length));
            const double next = sample * window + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = next;
        }
        power += previous * previous + beforePrevious * beforePrevious -
                 coefficient * previous * beforePrevious;
    }
    return power;
}

void refineOnsets(std::vector<SungNote>& notes, const std::vector<float>& samples,
                  double sampleRate) {
    for (size_t i = 0; i < notes.size(); ++i) {
        SungNote& note = notes[i];
        const double frequency = frequencyOf(note);
        auto levelAt = [&](double seconds) {
            return pitchLevel(samples, sampleRate, frequency, seconds, kLevelWindowSeconds);
        };
        Peak peak{note.onsetSeconds, levelAt(note.onsetSeconds)};
        const double settled = std::min(note.offsetSeconds, note.onsetSeconds + kSettleSeconds);
        for (double t = note.onsetSeconds; t <= settled; t += kSearchStepSeconds) {
            const double level = levelAt(t);
            if (level > peak.level)
                peak = {t, level};
        }
        double earliest = std::max(0.0, note.onsetSeconds - kLongestLeadSeconds);
        if (i > 0)
            earliest = std::max(earliest, notes[i - 1].onsetSeconds + kShortestPrecedingSeconds);
        for (double t = peak.seconds; t >= earliest; t -= kSearchStepSeconds) {
            if (levelAt(t) < kRiseShare * peak.level) {
                note.onsetSeconds = t + kSearchStepSeconds;
                break;
            }
        }
        if (i > 0)
            notes[i - 1].offsetSeconds = std::min(notes[i - 1].offsetSeconds, note.onsetSeconds);
        note.offsetSeconds = std::max(note.offsetSeconds, note.onsetSeconds);
    }
}
