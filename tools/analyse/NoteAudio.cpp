#include "tools/analyse/NoteAudio.h"

#include "analysis/Units.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kelvatone::analyse {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Levels are measured over this window: long enough to resolve a semitone step from G3 up,
// short enough to place an attack within a few milliseconds.
constexpr double kLevelWindowSeconds = 0.046;
// A pitch's level counts its fundamental and this many harmonics above it (a weak
// fundamental, as a sung vowel's, still shows).
constexpr int kHarmonics = 3;
// Harmonics of two notes closer than this share of their frequency are one (a third of a
// semitone; the level's window resolves about half a semitone at G3).
constexpr double kSharedHarmonicShare = 0.02;
// The level is sampled every this many seconds while searching for an onset.
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
// The fundamentals below a named pitch that are checked: its half and its third (the
// estimator's octave and twelfth errors).
constexpr int kLowestDivisor = 2;
constexpr int kHighestDivisor = 3;
// A tone below the named pitch at least this share of the pitch's own power (its fundamental
// and harmonics; -20 dB) is the note's fundamental. Between notes of a monophonic take the level
// there is 60 dB or more below; a clarinet's fundamental under the twelfth the estimator named,
// some 10 dB below.
constexpr double kFundamentalShare = 0.01;
// A named pitch whose own tone lies below this share (-30 dB) of the power of the pitch an
// octave above it (its even harmonics) does not sound: the note is that octave above. A
// sung vowel's weak fundamental lies some 15 to 22 dB below its second harmonic.
constexpr double kMissingFundamentalShare = 0.001;
// The middle of a note, where its tones are measured: these shares of its length, away
// from the note before that may still ring and from the release.
constexpr double kMiddleShares[] = {0.3, 0.5, 0.7};

double frequencyOf(const SungNote& note) {
    return analysis::c0Frequency * std::pow(2.0, pitchCentsOf(note) / analysis::kCentsPerOctave);
}

// The power of single frequencies around given times in the take: the Hann-windowed
// samples over kLevelWindowSeconds centred on the time (samples outside the take count as
// silence), at the frequency. Unscaled; for comparisons only.
class ToneMeter {
public:
    ToneMeter(const std::vector<float>& samples, double sampleRate)
        : samples_(samples), sampleRate_(sampleRate),
          window_(static_cast<size_t>(std::lround(kLevelWindowSeconds * sampleRate))) {
        const double length = static_cast<double>(window_.size());
        for (size_t i = 0; i < window_.size(); ++i)
            window_[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / length);
    }

    double level(double frequency, double centreSeconds) const {
        const double step = 2.0 * kPi * frequency / sampleRate_;
        if (step >= kPi)
            return 0.0;
        const long first =
            std::lround(centreSeconds * sampleRate_) - static_cast<long>(window_.size() / 2);
        const long count = static_cast<long>(samples_.size());
        // Goertzel's recurrence at the frequency over the windowed samples.
        const double coefficient = 2.0 * std::cos(step);
        double previous = 0.0;
        double beforePrevious = 0.0;
        for (size_t i = 0; i < window_.size(); ++i) {
            const long at = first + static_cast<long>(i);
            const double sample = at >= 0 && at < count ? samples_[static_cast<size_t>(at)] : 0.0;
            const double next = sample * window_[i] + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = next;
        }
        return previous * previous + beforePrevious * beforePrevious -
               coefficient * previous * beforePrevious;
    }

private:
    const std::vector<float>& samples_;
    double sampleRate_;
    std::vector<double> window_;
};

// True when one of the first harmonics of `other` lies within kSharedHarmonicShare of
// `frequency` (0: no other pitch).
bool sharedWith(double frequency, double other) {
    for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic)
        if (std::abs(other * harmonic - frequency) <= kSharedHarmonicShare * frequency)
            return true;
    return false;
}

// The harmonics (1 = fundamental) of a pitch that the pitch `before` does not share; all of
// them when it shares every one (the note an octave above the one before).
std::vector<int> ownHarmonics(double frequency, double before) {
    std::vector<int> own;
    for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic)
        if (!sharedWith(frequency * harmonic, before))
            own.push_back(harmonic);
    if (own.empty())
        for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic)
            own.push_back(harmonic);
    return own;
}

// The power of a pitch around a time: the meter's level summed over the given harmonics.
double pitchLevel(const ToneMeter& meter, double frequency, const std::vector<int>& harmonics,
                  double centreSeconds) {
    double power = 0.0;
    for (const int harmonic : harmonics)
        power += meter.level(frequency * harmonic, centreSeconds);
    return power;
}

// The power of a tone (harmonics 1: the frequency alone) or of a pitch (kHarmonics + 1)
// summed over the middle of a note.
double middleLevel(const ToneMeter& meter, double frequency, int harmonics, const SungNote& note) {
    double power = 0.0;
    for (const double share : kMiddleShares) {
        const double at = note.onsetSeconds + share * (note.offsetSeconds - note.onsetSeconds);
        for (int harmonic = 1; harmonic <= harmonics; ++harmonic)
            power += meter.level(frequency * harmonic, at);
    }
    return power;
}

// Moves the note by `cents` (up when positive).
void moveBy(SungNote& note, double cents) {
    namePitch(note, pitchCentsOf(note) + cents);
}

} // namespace

void refineOnsets(std::vector<SungNote>& notes, const std::vector<float>& samples,
                  double sampleRate) {
    const ToneMeter meter(samples, sampleRate);
    for (size_t i = 0; i < notes.size(); ++i) {
        SungNote& note = notes[i];
        const double frequency = frequencyOf(note);
        // The note before may ring on into this one: the harmonics they share do not tell
        // where this one began.
        const std::vector<int> harmonics =
            ownHarmonics(frequency, i > 0 ? frequencyOf(notes[i - 1]) : 0.0);
        auto levelAt = [&](double seconds) {
            return pitchLevel(meter, frequency, harmonics, seconds);
        };
        // Where the level peaked shortly after the track's onset, and its value there.
        double peakSeconds = note.onsetSeconds;
        double peakLevel = levelAt(peakSeconds);
        const double settled = std::min(note.offsetSeconds, note.onsetSeconds + kSettleSeconds);
        for (double t = note.onsetSeconds; t <= settled; t += kSearchStepSeconds) {
            const double level = levelAt(t);
            if (level > peakLevel) {
                peakSeconds = t;
                peakLevel = level;
            }
        }
        double earliest = std::max(0.0, note.onsetSeconds - kLongestLeadSeconds);
        if (i > 0)
            earliest = std::max(earliest, notes[i - 1].onsetSeconds + kShortestPrecedingSeconds);
        for (double t = peakSeconds; t >= earliest; t -= kSearchStepSeconds) {
            if (levelAt(t) < kRiseShare * peakLevel) {
                note.onsetSeconds = t + kSearchStepSeconds;
                break;
            }
        }
        if (i > 0)
            notes[i - 1].offsetSeconds = std::min(notes[i - 1].offsetSeconds, note.onsetSeconds);
        note.offsetSeconds = std::max(note.offsetSeconds, note.onsetSeconds);
    }
}

void nameFundamentals(std::vector<SungNote>& notes, const std::vector<float>& samples,
                      double sampleRate) {
    const ToneMeter meter(samples, sampleRate);
    std::vector<SungNote> named;
    for (SungNote note : notes) {
        const double frequency = frequencyOf(note);
        const double ownLevel = middleLevel(meter, frequency, kHarmonics + 1, note);
        int divisor = 0;
        double strongest = kFundamentalShare * ownLevel;
        for (int candidate = kLowestDivisor; candidate <= kHighestDivisor; ++candidate) {
            const double level = middleLevel(meter, frequency / candidate, 1, note);
            if (level >= strongest) {
                divisor = candidate;
                strongest = level;
            }
        }
        if (divisor != 0 && ownLevel > 0.0) {
            moveBy(note, -analysis::kCentsPerOctave * std::log2(divisor));
        } else {
            const double ownTone = middleLevel(meter, frequency, 1, note);
            const double octaveAbove = middleLevel(meter, 2.0 * frequency, kHarmonics + 1, note);
            if (ownTone < kMissingFundamentalShare * octaveAbove)
                moveBy(note, analysis::kCentsPerOctave);
        }
        const bool continuesPrevious =
            !named.empty() && named.back().midiNote == note.midiNote &&
            named.back().firstFrame + named.back().frames == note.firstFrame;
        if (!continuesPrevious) {
            named.push_back(note);
            continue;
        }
        SungNote& previous = named.back();
        if (note.frames > previous.frames)
            previous.medianDeviationCents = note.medianDeviationCents;
        previous.offsetSeconds = note.offsetSeconds;
        previous.frames += note.frames;
    }
    notes = std::move(named);
}

} // namespace kelvatone::analyse
