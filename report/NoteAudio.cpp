#include "report/NoteAudio.h"

#include "analysis/PitchEstimator.h"
#include "analysis/RealFft.h"
#include "analysis/Units.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace kelvatone::report {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Levels are measured over this window: long enough to resolve a semitone step from G3 up,
// short enough to place an attack within a few milliseconds.
constexpr double kLevelWindowSeconds = 0.046;
// A pitch's level counts its fundamental and this many harmonics above it (a weak
// fundamental, as a sung vowel's, still shows).
constexpr int kHarmonics = 3;
// A harmonic of one note lies on a harmonic of another when they are closer than this
// share of its frequency (a third of a semitone) or than kSharedHertz on the level window,
// about its resolution (its Hann main lobe is 43 Hz either side; on a longer window, less
// in proportion).
constexpr double kSharedHarmonicShare = 0.02;
// Chosen on the tuning set of bench/notes-compare.py (0, 30, 45 and 60 Hz tried).
constexpr double kSharedHertz = 45.0;
// An onset is searched for on a window of at least this many of the note's periods: below
// 220 Hz (A3) the level window holds fewer, and the harmonics of a low note and of the one
// before it lie closer than it resolves (a semitone at 100 Hz: 6 Hz apart). Chosen on the
// tuning set (6, 10, 14 and 20 tried).
constexpr double kOnsetPeriods = 10.0;
// The level is sampled every this many seconds while searching for an onset.
constexpr double kSearchStepSeconds = 0.002;
// The note's level is the highest within this time after the pitch track's onset.
constexpr double kSettleSeconds = 0.1;
// The onset is searched for at most this long before the pitch track's onset (the track is
// late by up to this much where the note before rings on, as a choir's long release; 0.3,
// 0.45 and 0.6 s tried on the tuning set) ...
constexpr double kLongestLeadSeconds = 0.6;
// ... and never earlier than this long after the note before began ...
constexpr double kShortestPrecedingSeconds = 0.05;
// ... unless the note before, once placed, is shorter than this: then the search passes it
// (bounded by the note before that), and when this note's level had already risen where
// that one began, it was this note's start (the track lagging a step, or a piece of the
// note before that lingering on) and is dropped. The estimator's strays last as long
// (kLongestStrayStartSeconds). Chosen on the tuning set (0.15, 0.2, 0.25 and 0.3 s tried).
constexpr double kLongestPassedSeconds = 0.2;
// The note began where its level, going back from its peak, fell below this share of it
// (-23 dB): slow attacks (a sung "oo", a flute) take long to rise through a higher share.
// Chosen on seeds 1 to 3 of bench/notes-compare.py (0.001 .. 0.1 tried).
constexpr double kRiseShare = 0.005;
// Where the level never fell that low in the time searched (the note began under pink
// noise, or under the release of the note before), the note began where the level, going
// back from its peak, fell below kFloorGain times the lowest it reached in that time (1.8
// dB over the floor it rose from), provided that floor lies below kFloorShare (-5 dB) of
// the peak: a level that never fell further is a note held on. Chosen on the tuning set
// (gains 1.1, 1.25, 1.5, 2, 3, 4 and 8, shares 0.03, 0.1, 0.3 and 0.5 tried).
constexpr double kFloorGain = 1.5;
constexpr double kFloorShare = 0.3;
// A notch: the level, going back from its peak, falls below kNotchShare (-15 dB) of the
// peak for at most kNotchSeconds and comes back above it. A choir's voices beat, and where
// they cancel, the level falls for a few milliseconds below where a note is taken to begin
// (on the bass voice, 24 to 35 dB under its peak): the note did not begin there, and the
// search passes it. Chosen on the tuning set (10 to 60 ms, shares 0.02 to 0.2 tried; 14 to
// 18 ms alike).
constexpr double kNotchShare = 0.03;
constexpr double kNotchSeconds = 0.016;
// A named pitch whose own tone lies below this share (-30 dB) of the power of the pitch an
// octave above it (its even harmonics) does not sound: the note is that octave above. A
// sung vowel's weak fundamental lies some 15 to 22 dB below its second harmonic.
constexpr double kMissingFundamentalShare = 0.001;
// The middle of a note, where its tones are measured: these shares of its length, away
// from the note before that may still ring and from the release.
constexpr double kMiddleShares[] = {0.3, 0.5, 0.7};
// Two tones a quarter of the lower one's frequency apart are told apart on a Hann window
// this many of its periods long (its main lobe spans two cycles of their difference either
// side): at 41 Hz (E1) 0.39 s, where the level window holds two periods.
constexpr double kResolvedPeriods = 16.0;
// Windows grow no longer than this, nor than this share of the note's length.
constexpr double kLongestWindowSeconds = 0.4;
constexpr double kLongestWindowShare = 0.6;
// A tone sounds when its level is at least this many times the mean level of the
// frequencies kToneSpread of it either side: noise, and the skirts of a louder tone nearby,
// are level across that span.
// Chosen on the tuning set (2, 4, 8 and 16 tried).
constexpr double kToneRatio = 8.0;
constexpr double kToneSpread = 0.25;
// The spectrum of a note's middle spans from 46 ms to 0.37 s (at 44.1 kHz).
constexpr int kShortestSpectrum = 2048;
constexpr int kLongestSpectrum = 16384;
// See partialAmplitude.
constexpr double kPartialShare = 0.02;
// A note's salience counts this many partials.
constexpr int kSalienceHarmonics = 8;
// A fundamental below the named pitch names the note when its salience is at least this
// many times the named pitch's own. Chosen on the tuning set (1.2, 1.5 and 2 tried).
constexpr double kSalienceGain = 1.2;
// The lowest fundamental looked for: the piano's A0.
constexpr double kLowestFundamentalHertz = 27.5;
// Where the pitch track is unsteady (a low choir voice: its frames alternate between the
// note, its octave and a formant), the take's fundamental is measured again on a window
// this long (the track's own is 93 ms at 44.1 kHz) ...
// Chosen on the tuning set (0.093, 0.12, 0.15, 0.186 and 0.25 s tried).
constexpr double kLongLookSeconds = 0.15;
// ... transformed at this many times its length, so that the partials fall on finer bins ...
constexpr int kLongLookPadding = 4;
// ... among fundamentals kLongLookStepCents apart up to kLongLookHighestHertz, each partial
// found within kLongLookShare of its harmonic (a tenth of a semitone: the window resolves a
// low note's upper harmonics from those of the semitone beside it; 0.004 and 0.01 tried).
constexpr double kLongLookStepCents = 10.0;
constexpr double kLongLookShare = 0.006;
// The fundamental found replaces the track's pitch when it lies below this (E4; 200, 262
// and 440 Hz tried); fundamentals are looked for two octaves above it, so that a higher
// note is not named by its subharmonic.
constexpr double kLongLookTopHertz = 330.0;
constexpr double kLongLookHighestHertz = 4.0 * kLongLookTopHertz;
// A frame of the track is steady when the frames either side lie within this of it (50 and
// 200 tried: the track's errors jump by far more); a frame beside a rest is not.
constexpr int kSteadyCents = 100;
// The track is unsteady around a frame when at least kUnsteadyShare of the voiced frames
// within kUnsteadyReach frames of it are not steady (reach 4, 7 and 10, share 0.3, 0.5
// and 0.7 tried): the spans where the track is no guide, as a whole, so that the notes
// there are segmented from one measurement.
constexpr long kUnsteadyReach = 7;
constexpr double kUnsteadyShare = 0.5;
// A note's pitch struck again: its level rises to this many times (25 dB) the lowest it
// fell to since the note began or was last struck. A tone's vibrato or tremolo moves it a
// few dB. Chosen on the tuning set (10, 30, 100, 300 and 1000 tried).
constexpr double kReattackGain = 300.0;
// Not within this time of a note's ends (its attack and release), and no piece shorter.
constexpr double kReattackGuardSeconds = 0.1;
constexpr double kReattackStepSeconds = 0.02;
// The piece of a note before it is struck again sounds, when it is part of a note, a tone
// within this of the note's pitch (a slide into the note starts up to a few semitones
// away); otherwise it is noise or a room's tail that the track named already by the struck
// pitch, and is dropped. Pitches are looked for kNearStepCents apart. Chosen on the tuning
// set (100, 200 and 300 cents tried).
constexpr double kNearCents = 200.0;
constexpr double kNearStepCents = 25.0;
// A note shorter than this, once its onset and the next note's are placed, that lies at
// least kStrayStartCents below the note it runs into is the estimator naming a subharmonic
// while one note gave way to the next (the segmenter's strays last as long). Chosen on the
// tuning set (0.2 and 0.3 s, 650 and 1150 cents tried).
constexpr double kLongestStrayStartSeconds = 0.2;
constexpr double kStrayStartCents = 1150.0;

double frequencyOf(const SungNote& note) {
    return analysis::c0Frequency * std::pow(2.0, pitchCentsOf(note) / analysis::kCentsPerOctave);
}

// The power of single frequencies around given times in the take: the Hann-windowed
// samples over the meter's window (kLevelWindowSeconds unless given) centred on the time (samples
// outside the take count as silence), at the frequency. Unscaled; for comparisons only.
class ToneMeter {
public:
    ToneMeter(const std::vector<float>& samples, double sampleRate,
              double windowSeconds = kLevelWindowSeconds)
        : samples_(samples), sampleRate_(sampleRate),
          window_(static_cast<size_t>(std::lround(windowSeconds * sampleRate))) {
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

// True when a harmonic of `other` (any: a note's upper harmonics ring on as long as its
// first) lies on `frequency` (0: no other pitch), on a window that resolves sharedHertz.
bool sharedWith(double frequency, double other, double sharedHertz) {
    if (other <= 0.0)
        return false;
    const double nearest = std::max(1.0, std::round(frequency / other)) * other;
    return std::abs(nearest - frequency) <= std::max(kSharedHarmonicShare * frequency, sharedHertz);
}

// The harmonics (1 = fundamental) of a pitch that the pitch `before` does not share; all of
// them when it shares every one (the note an octave above the one before).
std::vector<int> ownHarmonics(double frequency, double before, double sharedHertz) {
    std::vector<int> own;
    for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic)
        if (!sharedWith(frequency * harmonic, before, sharedHertz))
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

// The window on which tones down to `lowest` Hz are told apart over the note's middle.
double windowFor(double lowest, const SungNote& note) {
    const double longest =
        std::max(kLevelWindowSeconds,
                 std::min(kLongestWindowSeconds,
                          kLongestWindowShare * (note.offsetSeconds - note.onsetSeconds)));
    return std::clamp(kResolvedPeriods / lowest, kLevelWindowSeconds, longest);
}

// True when a pitch's first harmonics sound over the note's middle as tones: their level
// at least kToneRatio times the mean level kToneSpread of the pitch either side of them.
bool soundsAsTone(const ToneMeter& meter, double frequency, const SungNote& note) {
    double tone = 0.0;
    double surround = 0.0;
    for (int harmonic = 1; harmonic <= kHarmonics + 1; ++harmonic) {
        const double at = frequency * harmonic;
        tone += middleLevel(meter, at, 1, note);
        surround += 0.5 * (middleLevel(meter, at - kToneSpread * frequency, 1, note) +
                           middleLevel(meter, at + kToneSpread * frequency, 1, note));
    }
    return tone >= kToneRatio * surround;
}

// True when some pitch within kNearCents of `frequency` sounds as a tone through the note
// (see soundsAsTone).
bool soundsNearPitch(const std::vector<float>& samples, double sampleRate, double frequency,
                     const SungNote& note) {
    const double lowest = frequency * std::exp2(-kNearCents / analysis::kCentsPerOctave);
    const ToneMeter meter(samples, sampleRate, windowFor(lowest, note));
    for (double cents = -kNearCents; cents <= kNearCents; cents += kNearStepCents)
        if (soundsAsTone(meter, frequency * std::exp2(cents / analysis::kCentsPerOctave), note))
            return true;
    return false;
}

// The window on which a note's onset and strikes are looked for (see kOnsetPeriods).
double onsetWindow(double frequency) {
    return std::max(kLevelWindowSeconds, kOnsetPeriods / frequency);
}

// The power spectrum of the middle of a note: one Hann-windowed transform of the longest
// power-of-two span that fits the note's middle (kLongestWindowShare of it, at most
// kLongestWindowSeconds), so that a low note's harmonics are told apart.
struct Spectrum {
    std::vector<double> power;
    double binHertz = 0.0;
};

// The transform's work areas for lengths up to `longest`, whose tables are built on first
// use and kept for the transforms after it.
struct TransformTables {
    explicit TransformTables(int longest)
        : work(static_cast<size_t>(2 + std::sqrt(longest / 2.0) + 1)),
          table(static_cast<size_t>(longest / 2)) {}
    std::vector<int32_t> work;
    std::vector<double> table;
};

// The power spectrum of windowLength samples centred on a time, Hann-windowed and padded
// with zeros to `length` (a power of two, at least windowLength, at most the tables'
// longest); samples outside the take count as silence.
Spectrum spectrumAt(const std::vector<float>& samples, double sampleRate, double centreSeconds,
                    int windowLength, int length, TransformTables& tables) {
    const long first = std::lround(centreSeconds * sampleRate) - windowLength / 2;
    std::vector<double> values(static_cast<size_t>(length));
    for (int i = 0; i < windowLength; ++i) {
        const long at = first + i;
        const double sample = at >= 0 && at < static_cast<long>(samples.size())
                                  ? samples[static_cast<size_t>(at)]
                                  : 0.0;
        values[static_cast<size_t>(i)] =
            sample * (0.5 - 0.5 * std::cos(2.0 * kPi * i / windowLength));
    }
    analysis::realFft(length, 1, values.data(), tables.work.data(), tables.table.data());
    Spectrum spectrum;
    spectrum.binHertz = sampleRate / length;
    spectrum.power.resize(static_cast<size_t>(length / 2));
    for (size_t k = 1; k < spectrum.power.size(); ++k)
        spectrum.power[k] = values[2 * k] * values[2 * k] + values[2 * k + 1] * values[2 * k + 1];
    return spectrum;
}

Spectrum middleSpectrum(const std::vector<float>& samples, double sampleRate,
                        const SungNote& note) {
    const double span = std::min(kLongestWindowSeconds,
                                 kLongestWindowShare * (note.offsetSeconds - note.onsetSeconds));
    int length = kShortestSpectrum;
    while (2.0 * length <= span * sampleRate && 2 * length <= kLongestSpectrum)
        length *= 2;
    TransformTables tables(length);
    return spectrumAt(samples, sampleRate, 0.5 * (note.onsetSeconds + note.offsetSeconds), length,
                      length, tables);
}

// The amplitude of the strongest bin within kPartialShare (or a bin) of a frequency: a
// partial of a string lies a little above its harmonic (a piano's, by up to a few tenths of
// a semitone).
double partialAmplitude(const Spectrum& spectrum, double frequency, double share = kPartialShare) {
    const double reach = std::max(spectrum.binHertz, share * frequency);
    const long last = static_cast<long>(spectrum.power.size()) - 1;
    const long from = std::max(1L, std::lround((frequency - reach) / spectrum.binHertz));
    const long to = std::min(last, std::lround((frequency + reach) / spectrum.binHertz));
    double strongest = 0.0;
    for (long k = from; k <= to; ++k)
        strongest = std::max(strongest, spectrum.power[static_cast<size_t>(k)]);
    return std::sqrt(strongest);
}

// How strongly a fundamental sounds with its harmonics: the sum of its first
// kSalienceHarmonics partials' amplitudes.
double salience(const Spectrum& spectrum, double fundamental, double share = kPartialShare) {
    double sum = 0.0;
    for (int harmonic = 1; harmonic <= kSalienceHarmonics; ++harmonic)
        sum += partialAmplitude(spectrum, fundamental * harmonic, share);
    return sum;
}

// The number of levels kSearchStepSeconds apart that a notch spans at most.
long notchSteps() {
    return std::lround(kNotchSeconds / kSearchStepSeconds);
}

// The levels (going back from the note's peak of peakLevel) with each notch raised to
// kNotchShare of the peak: a run of levels below it, no longer than a notch, with levels at
// or above it on both sides.
std::vector<double> bridgeNotches(std::vector<double> levels, double peakLevel) {
    const double notch = kNotchShare * peakLevel;
    const size_t count = levels.size();
    for (size_t first = 0; first < count;) {
        if (levels[first] >= notch) {
            ++first;
            continue;
        }
        size_t end = first;
        while (end < count && levels[end] < notch)
            ++end;
        if (first > 0 && end < count && static_cast<long>(end - first) <= notchSteps())
            std::fill(levels.begin() + static_cast<std::ptrdiff_t>(first),
                      levels.begin() + static_cast<std::ptrdiff_t>(end), notch);
        first = end;
    }
    return levels;
}

// True when the levels (going back from the note's peak of peakLevel) end in a run below
// kNotchShare of the peak that has fallen below kRiseShare of it and lasted longer than a
// notch: the note rose there, and no level further back changes where.
bool pastRise(const std::vector<double>& levels, double peakLevel) {
    long run = 0;
    bool rose = false;
    for (auto level = levels.rbegin(); level != levels.rend() && *level < kNotchShare * peakLevel;
         ++level) {
        ++run;
        rose = rose || *level < kRiseShare * peakLevel;
    }
    return rose && run > notchSteps();
}

// Where a note's level rose, given its levels going back from its peak (of peakLevel) every
// kSearchStepSeconds, ending past where it fell below kRiseShare of the peak (pastRise) or
// at the earliest time searched, with their notches bridged: the index of the first level
// below kRiseShare of the peak or, when none is, below kFloorGain times the lowest of them
// (see kFloorShare); -1 when none is.
long riseIndex(const std::vector<double>& levels, double peakLevel) {
    const std::vector<double> bridged = bridgeNotches(levels, peakLevel);
    auto firstBelow = [&bridged](double threshold) {
        const auto below = std::find_if(bridged.begin(), bridged.end(),
                                        [threshold](double level) { return level < threshold; });
        return below == bridged.end() ? -1L : static_cast<long>(below - bridged.begin());
    };
    if (const long rose = firstBelow(kRiseShare * peakLevel); rose >= 0)
        return rose;
    if (bridged.empty())
        return -1;
    const double floor = *std::min_element(bridged.begin(), bridged.end());
    if (floor >= kFloorShare * peakLevel)
        return -1;
    return firstBelow(kFloorGain * floor);
}

// Moves the note by `cents` (up when positive).
void moveBy(SungNote& note, double cents) {
    namePitch(note, pitchCentsOf(note) + cents);
}

// The fundamental from kLowestFundamentalHertz up to kLongLookHighestHertz whose harmonics
// sound most strongly on the spectrum (within kLongLookShare of each).
double strongestFundamental(const Spectrum& spectrum) {
    const double step = std::exp2(kLongLookStepCents / analysis::kCentsPerOctave);
    double best = 0.0;
    double bestSalience = 0.0;
    for (double f = kLowestFundamentalHertz; f <= kLongLookHighestHertz; f *= step) {
        const double candidate = salience(spectrum, f, kLongLookShare);
        if (candidate > bestSalience) {
            best = f;
            bestSalience = candidate;
        }
    }
    return best;
}

// True when the track's frame lies within kSteadyCents of the frames either side (voiced).
bool steadyAt(const std::vector<analysis::PitchCents>& pitches, size_t k) {
    auto near = [&](size_t other) { return std::abs(pitches[other] - pitches[k]) <= kSteadyCents; };
    return k > 0 && k + 1 < pitches.size() && near(k - 1) && near(k + 1);
}

// For each frame, whether the track is unsteady around it (see kUnsteadyShare).
std::vector<bool> unsteadySpans(const std::vector<analysis::PitchCents>& pitches) {
    const long count = static_cast<long>(pitches.size());
    std::vector<bool> unsteady(pitches.size(), false);
    for (long k = 0; k < count; ++k) {
        int voiced = 0;
        int jumping = 0;
        for (long j = std::max(0L, k - kUnsteadyReach);
             j <= std::min(count - 1, k + kUnsteadyReach); ++j) {
            if (pitches[static_cast<size_t>(j)] == analysis::kNoPitch)
                continue;
            ++voiced;
            jumping += steadyAt(pitches, static_cast<size_t>(j)) ? 0 : 1;
        }
        unsteady[static_cast<size_t>(k)] = voiced > 0 && jumping >= kUnsteadyShare * voiced;
    }
    return unsteady;
}

} // namespace

std::vector<analysis::PitchCents> lookLonger(const std::vector<analysis::PitchCents>& pitches,
                                             const TrackTiming& timing,
                                             const std::vector<float>& samples, double sampleRate) {
    const int length = static_cast<int>(std::lround(kLongLookSeconds * sampleRate));
    int padded = 2;
    while (padded < length * kLongLookPadding)
        padded *= 2;
    std::vector<analysis::PitchCents> looked = pitches;
    const std::vector<bool> unsteady = unsteadySpans(pitches);
    TransformTables tables(padded);
    for (size_t k = 0; k < pitches.size(); ++k) {
        if (pitches[k] == analysis::kNoPitch || !unsteady[k])
            continue;
        // The long window is centred where the track's frame was.
        const double centre = timing.firstFrameSeconds +
                              static_cast<double>(k) * timing.frameSeconds -
                              0.5 * timing.windowSeconds;
        const double fundamental =
            strongestFundamental(spectrumAt(samples, sampleRate, centre, length, padded, tables));
        if (fundamental > 0.0 && fundamental < kLongLookTopHertz)
            looked[k] = analysis::pitchFromFrequency(fundamental);
    }
    return looked;
}

void refineOnsets(std::vector<SungNote>& notes, const std::vector<float>& samples,
                  double sampleRate) {
    for (size_t i = 0; i < notes.size(); ++i) {
        SungNote& note = notes[i];
        const double frequency = frequencyOf(note);
        // A low note's level on a window of kOnsetPeriods periods; harmonics share less
        // there, as the window resolves finer.
        const double window = onsetWindow(frequency);
        const ToneMeter meter(samples, sampleRate, window);
        // The note before may ring on into this one: the harmonics they share do not tell
        // where this one began.
        const std::vector<int> harmonics =
            ownHarmonics(frequency, i > 0 ? frequencyOf(notes[i - 1]) : 0.0,
                         kSharedHertz * kLevelWindowSeconds / window);
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
        const bool passes =
            i > 0 && notes[i - 1].offsetSeconds - notes[i - 1].onsetSeconds < kLongestPassedSeconds;
        // The note whose onset bounds the search: the one before, or the one before that.
        const size_t bounding = passes ? i - 1 : i;
        double earliest = std::max(0.0, note.onsetSeconds - kLongestLeadSeconds);
        if (bounding > 0)
            earliest =
                std::max(earliest, notes[bounding - 1].onsetSeconds + kShortestPrecedingSeconds);
        std::vector<double> levels;
        for (double t = peakSeconds; t >= earliest; t -= kSearchStepSeconds) {
            levels.push_back(levelAt(t));
            if (pastRise(levels, peakLevel))
                break;
        }
        if (const long rose = riseIndex(levels, peakLevel); rose >= 0)
            note.onsetSeconds = peakSeconds - static_cast<double>(rose - 1) * kSearchStepSeconds;
        if (passes && note.onsetSeconds < notes[i - 1].onsetSeconds + kShortestPrecedingSeconds) {
            note.firstFrame = notes[i - 1].firstFrame;
            note.frames += notes[i - 1].frames;
            notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(i - 1));
            --i;
        }
        SungNote& placed = notes[i];
        if (i > 0)
            notes[i - 1].offsetSeconds = std::min(notes[i - 1].offsetSeconds, placed.onsetSeconds);
        placed.offsetSeconds = std::max(placed.offsetSeconds, placed.onsetSeconds);
    }
}

void nameFundamentals(std::vector<SungNote>& notes, const std::vector<float>& samples,
                      double sampleRate) {
    std::vector<SungNote> named;
    for (SungNote note : notes) {
        const double frequency = frequencyOf(note);
        // The named pitch may be any partial of the note (a low piano note's 30th in a
        // reverberant room): the fundamental below it whose harmonics sound most strongly,
        // when clearly stronger than the named pitch's own.
        const Spectrum spectrum = middleSpectrum(samples, sampleRate, note);
        const double ownSalience = salience(spectrum, frequency);
        int divisor = 0;
        double strongest = kSalienceGain * ownSalience;
        for (int candidate = 2; frequency / candidate >= kLowestFundamentalHertz; ++candidate) {
            const double candidateSalience = salience(spectrum, frequency / candidate);
            if (candidateSalience > strongest) {
                divisor = candidate;
                strongest = candidateSalience;
            }
        }
        const ToneMeter meter(samples, sampleRate, windowFor(frequency, note));
        if (divisor != 0) {
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

void dropTonelessNotes(std::vector<SungNote>& notes, const std::vector<float>& samples,
                       double sampleRate) {
    std::vector<SungNote> kept;
    for (const SungNote& note : notes) {
        const double frequency = frequencyOf(note);
        const ToneMeter meter(samples, sampleRate, windowFor(frequency, note));
        if (soundsAsTone(meter, frequency, note))
            kept.push_back(note);
    }
    notes = std::move(kept);
}

void splitReattacks(std::vector<SungNote>& notes, const std::vector<float>& samples,
                    double sampleRate) {
    std::vector<SungNote> split;
    for (const SungNote& note : notes) {
        const double frequency = frequencyOf(note);
        const ToneMeter meter(samples, sampleRate, onsetWindow(frequency));
        const std::vector<int> harmonics = ownHarmonics(frequency, 0.0, 0.0);
        const double secondsPerFrame = (note.offsetSeconds - note.onsetSeconds) /
                                       static_cast<double>(std::max(1L, note.frames));
        SungNote current = note;
        double lowest = std::numeric_limits<double>::infinity();
        for (double t = note.onsetSeconds + kReattackGuardSeconds;
             t < note.offsetSeconds - kReattackGuardSeconds; t += kReattackStepSeconds) {
            const double level = pitchLevel(meter, frequency, harmonics, t);
            lowest = std::min(lowest, level);
            if (level < kReattackGain * lowest || t - current.onsetSeconds < kReattackGuardSeconds)
                continue;
            SungNote head = current;
            head.offsetSeconds = t;
            head.frames = std::clamp(std::lround((t - current.onsetSeconds) / secondsPerFrame), 1L,
                                     std::max(1L, current.frames - 1));
            if (soundsNearPitch(samples, sampleRate, frequency, head))
                split.push_back(head);
            current.onsetSeconds = t;
            current.firstFrame += head.frames;
            current.frames -= head.frames;
            lowest = level;
        }
        split.push_back(current);
    }
    notes = std::move(split);
}

void joinStrayStarts(std::vector<SungNote>& notes) {
    std::vector<SungNote> joined;
    for (size_t i = 0; i < notes.size(); ++i) {
        const SungNote& note = notes[i];
        const bool stray = i + 1 < notes.size() &&
                           note.firstFrame + note.frames == notes[i + 1].firstFrame &&
                           note.offsetSeconds - note.onsetSeconds < kLongestStrayStartSeconds &&
                           pitchCentsOf(notes[i + 1]) - pitchCentsOf(note) >= kStrayStartCents;
        if (!stray) {
            joined.push_back(note);
            continue;
        }
        SungNote& next = notes[i + 1];
        next.onsetSeconds = note.onsetSeconds;
        next.firstFrame = note.firstFrame;
        next.frames += note.frames;
    }
    notes = std::move(joined);
}

} // namespace kelvatone::report
