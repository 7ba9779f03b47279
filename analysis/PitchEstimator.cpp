#include "analysis/PitchEstimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvatone::analysis {

namespace {

// Half-width of a band level's search band: 1/48 of the frequency, about 36 cents.
constexpr double kBandLowFactor = 0.9791666666666666;
constexpr double kBandHighFactor = 1.0208333333333333;
// The peak must reach this share of the zero-lag value.
constexpr double kPeakShareOfEnergy = 0.3;
// Scaled levels below this count as absent.
constexpr double kAudibleLevel = 0.24;
// A twelfth-low candidate must be this much stronger at its second harmonic.
constexpr double kTwelfthLowGain = 3.15;
// An octave- or twelfth-high candidate must be this much stronger than F0 ...
constexpr double kHigherCandidateGain = 1.25;
// ... and the other higher partial at most 1/0.06 times weaker than it.
constexpr double kOtherPartialShare = 0.06;
// Frames whose three partial levels together stay below this have no pitch.
constexpr double kVoicedCombinedLevel = 0.7;
// The envelope is the running maximum over this many lags.
constexpr int32_t kEnvelopeWidth = 5;
// A refinement window spans this many lags on each side of the expected multiple.
constexpr int32_t kRefinementReach = 3;

// Power of bin k of the packed spectrum; bins outside 0..N/2-1 have none.
double binPower(const FrameView& frame, int32_t k) {
    if (k < 0 || k >= frame.frameLength / 2)
        return 0.0;
    const double re = frame.spectrum[2 * k];
    const double im = frame.spectrum[2 * k + 1];
    return re * re + im * im;
}

// A lag bound, held within 0..highest (a bound that is not a number becomes 0).
int32_t clampLag(double lag, int32_t highest) {
    if (!(lag >= 0.0))
        return 0;
    if (lag > highest)
        return highest;
    return static_cast<int32_t>(lag);
}

// Largest of r[i] .. r[i + 4].
double envelope(const double* r, int32_t i) {
    double largest = r[i];
    for (int32_t j = 1; j < kEnvelopeWidth; ++j)
        largest = std::max(largest, r[i + j]);
    return largest;
}

// Two neighbouring lags' values, one per lane.
typedef double LagPair __attribute__((vector_size(16)));

inline LagPair loadLagPair(const double* p) {
    LagPair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The envelopes of lags i and i + 1 in the two lanes, each lane formed by envelope's
// comparisons in envelope's order (std::max keeps its first operand unless it is less).
LagPair envelopePair(const double* r, int32_t i) {
    LagPair largest = loadLagPair(r + i);
    for (int32_t j = 1; j < kEnvelopeWidth; ++j) {
        const LagPair next = loadLagPair(r + i + j);
        largest = largest < next ? next : largest;
    }
    return largest;
}

// The envelope is formed this many lags at a time, two per vector, then scanned.
constexpr int32_t kEnvelopeChunk = 64;

// out[k] = envelope(r, begin + k) for k < count <= kEnvelopeChunk; reads no lag past
// begin + count + 3.
void envelopeChunk(const double* r, int32_t begin, int32_t count, double* out) {
    int32_t k = 0;
    for (; k + 1 < count; k += 2) {
        const LagPair pair = envelopePair(r, begin + k);
        std::memcpy(out + k, &pair, sizeof pair);
    }
    if (k < count)
        out[k] = envelope(r, begin + k);
}

// The lag of the highest peak in first..stop reached by a rise of the envelope (0 if none),
// with its value.
int32_t findPeakLag(const double* r, int32_t first, int32_t stop, double& bestValue) {
    double prevEnv = envelope(r, first);
    double prevSlope = -1.0;
    bestValue = 0.0;
    int32_t bestLag = 0;
    double envelopes[kEnvelopeChunk];
    for (int32_t chunkStart = first; chunkStart < stop; chunkStart += kEnvelopeChunk) {
        const int32_t count = std::min(kEnvelopeChunk, stop - chunkStart);
        envelopeChunk(r, chunkStart + 1, count, envelopes);
        for (int32_t k = 0; k < count; ++k) {
            const double env = envelopes[k]; // the envelope at lag chunkStart + k + 1
            const double slope = env - prevEnv;
            if (slope < 0 && prevSlope > 0 && prevEnv > bestValue) {
                bestValue = prevEnv;
                bestLag = chunkStart + k;
            }
            // A flat stretch changes nothing, so the direction before it is remembered.
            if (slope != 0) {
                prevSlope = slope;
                prevEnv = env;
            }
        }
    }
    return bestLag;
}

// Chooses between F0 and its sub- and super-multiples by the spectrum's levels; false when
// the frame has no pitch.
bool chooseCandidate(const FrameView& frame, double f0, double fB, double fE, double& chosen) {
    const double scale = levelScale / frame.frameLength;
    auto level = [&](double frequency) { return bandLevel(frame, frequency) * scale; };

    const double l1 = level(f0);
    if (l1 >= kAudibleLevel) {
        const double third = f0 / 3.0;
        if (level(third + third) > l1 * kTwelfthLowGain && third >= fB) {
            chosen = third;
            return true;
        }
        if (level(f0 * 1.5) > l1 && f0 * 0.5 >= fB) {
            chosen = f0 * 0.5;
            return true;
        }
    }
    const double l2 = level(f0 + f0);
    const double l3 = level(f0 * 3.0);
    if (l2 >= kAudibleLevel && l2 > l1 * kHigherCandidateGain && l2 * kOtherPartialShare > l3 &&
        fE >= 2 * f0) {
        chosen = 2 * f0;
    } else if (l3 >= kAudibleLevel && l3 > l1 * kHigherCandidateGain &&
               l3 * kOtherPartialShare > l2 && fE >= 3 * f0) {
        chosen = 3 * f0;
    } else if (std::sqrt((l2 * l2 + l1 * l1) + l3 * l3) < kVoicedCombinedLevel) {
        return false;
    } else {
        chosen = f0;
    }
    return true;
}

// Averages the frequency over the autocorrelation peaks at the multiples of its period
// that lie below lag N/2 - 1.
double refineOverMultiples(const FrameView& frame, double frequency) {
    const double* r = frame.correlation;
    const double sr = frame.sampleRate;
    const int32_t half = frame.frameLength / 2;
    const int32_t multiples = static_cast<int32_t>((half - 1) / (sr / frequency));
    double sum = frequency;
    int32_t count = 1;
    for (int32_t k = 2; k <= multiples; ++k) {
        const double mean = sum / count;
        const int32_t expected = static_cast<int32_t>(k * sr / mean);
        const int32_t hi =
            expected + kRefinementReach < half ? expected + kRefinementReach : half - 1;
        // A window that would reach below lag 0 is cut there; its edge never counts.
        const int32_t lo = std::max(expected - kRefinementReach, 0);
        int32_t best = hi;
        double bestValue = r[hi];
        for (int32_t c = lo; c < hi; ++c) {
            if (r[c] > bestValue) {
                bestValue = r[c];
                best = c;
            }
        }
        if (best != lo && best != hi) {
            ++count;
            sum += k * sr / best;
        }
    }
    return sum / count;
}

} // namespace

double bandLevel(const FrameView& frame, Hz frequency) {
    const double binWidth = frame.sampleRate / frame.frameLength;
    const int32_t lastBin = frame.frameLength / 2 - 1;
    // Bins past the spectrum's end have no power, so the search stops there; the clamp in
    // double also keeps the conversions in range.
    const double lowEdge = frequency * kBandLowFactor / binWidth;
    const double highEdge = frequency * kBandHighFactor / binWidth;
    if (!(highEdge >= 0.0) || !(lowEdge <= lastBin))
        return 0.0;
    const int32_t lo = static_cast<int32_t>(std::max(lowEdge, 0.0));
    const int32_t hi = static_cast<int32_t>(std::min(highEdge, static_cast<double>(lastBin)));

    int32_t best = 0;
    double bestPower = 0.0;
    for (int32_t k = lo; k <= hi; ++k) {
        const double power = binPower(frame, k);
        if (power > bestPower) {
            bestPower = power;
            best = k;
        }
    }
    if (!(bestPower > 0.0))
        return 0.0;
    return std::sqrt(((binPower(frame, best - 1) + bestPower) + binPower(frame, best + 1)) / 3.0);
}

PitchCents pitchFromFrequency(Hz frequency) {
    return static_cast<PitchCents>((std::log2(frequency) - log2C0Frequency) * kCentsPerOctave);
}

PitchSearch searchPitch(const FrameView& frame, const SearchRange& range) {
    const double* r = frame.correlation;
    const double sr = frame.sampleRate;
    const int32_t n = frame.frameLength;
    const double fB = range.begin;
    const double fE = range.end;
    PitchSearch search;

    // The supported rates keep the range inside the arrays for every analysis range the
    // parameters allow; the clamp holds it there for any other setting.
    const int32_t lastStop = n - kEnvelopeWidth;
    const int32_t first = clampLag(std::trunc(sr / fE) - 1, lastStop);
    const int32_t stop = clampLag(std::trunc(sr / fB) + 1, lastStop);
    if (first >= stop)
        return search;

    double bestValue = 0.0;
    search.bestLag = findPeakLag(r, first, stop, bestValue);
    if (search.bestLag == 0 || kPeakShareOfEnergy * r[0] > bestValue)
        return search;

    const double f0 = sr / search.bestLag;
    double chosen = 0.0;
    if (!chooseCandidate(frame, f0, fB, fE, chosen))
        return search;
    search.candidate = chosen;
    search.refined = refineOverMultiples(frame, chosen);
    search.pitch = pitchFromFrequency(search.refined);
    return search;
}

PitchCents estimatePitch(const FrameView& frame, const SearchRange& range) {
    return searchPitch(frame, range).pitch;
}

} // namespace kelvatone::analysis
