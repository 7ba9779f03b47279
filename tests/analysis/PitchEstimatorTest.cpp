// The pitch estimator with real signals: sine sweeps, the worked results, harmonic tones with
// a weak fundamental, the analysis range bounds, the supported sample rates, tones in noise
// and quiet tones. The inputs are arrays, made here as the engine makes them.
#include "analysis/PitchEstimator.h"
#include "analysis/AnalysisEngine.h"
#include "analysis/RealFft.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;

namespace {

constexpr double kRate = 44100.0;
const float kResolutions[] = {10.0f, 15.0f, 30.0f};
// Frames measured per tone once the ring holds nothing but the tone.
constexpr int kSteadyFrames = 8;
// The worked results: within 2 cents of 5700 for 440 Hz.
constexpr int kWorkedTolerance = 2;
// Median error of a sine's pitch where the frame holds many periods of it. The pitch is
// truncated to whole cents, so a perfect estimate reads up to 1 cent low.
constexpr double kMedianToleranceCents = 3.0;
// A frame holding at least this many periods counts as long for the tone.
constexpr double kManyPeriods = 24.0;
// With fewer periods (but at least kFewestPeriods) the windowed autocorrelation's peak moves
// to a shorter lag: the pitch reads sharp, by up to this much.
constexpr double kFewestPeriods = 4.0;
constexpr double kShortFrameSharpBiasCents = 50.0;
// A pitch error this large is a wrong octave or twelfth rather than an inaccuracy.
constexpr double kGrossErrorCents = 50.0;

// The default analysis range, C1 to C8.
const SearchRange kDefaultRange{noteFrequency(12), noteFrequency(96)};

// One analysed frame as arrays: the packed spectrum of the Hann-windowed samples and their
// autocorrelation, as the engine's measureFrame leaves them.
struct FrameArrays {
    std::vector<double> spectrum;
    std::vector<double> correlation;
    double rate = 0.0;

    FrameView view() const {
        return FrameView{spectrum.data(), correlation.data(),
                         static_cast<SampleCount>(spectrum.size()), rate};
    }
};

// The frame of n samples of a signal that ends before sample `end`.
FrameArrays frameEndingAt(const std::function<double(long)>& signal, double rate, int32_t n,
                          long end) {
    constexpr double kTwoPi = 6.283185307179586;
    FrameArrays frame{std::vector<double>(n), std::vector<double>(n), rate};
    std::vector<double>& x = frame.spectrum;
    for (int32_t j = 0; j < n; ++j)
        x[j] = signal(end - n + j) * (0.5 - 0.5 * std::cos(j * kTwoPi / n));
    std::vector<int32_t> work(static_cast<size_t>(std::sqrt(n * 0.5)) + 3, 0);
    std::vector<double> table(n / 2);
    realFft(n, 1, x.data(), work.data(), table.data());
    std::vector<double>& r = frame.correlation;
    r[0] = x[0] * x[0];
    r[1] = x[1] * x[1];
    for (int32_t k = 2; k < n; k += 2)
        r[k] = x[k] * x[k] + x[k + 1] * x[k + 1];
    realFft(n, -1, r.data(), work.data(), table.data());
    return frame;
}

// The frames the engine analyses at a rate and resolution once its ring holds nothing but
// the signal: one every 1/30 s, `count` of them.
std::vector<FrameArrays> steadyFrames(const std::function<double(long)>& signal, double rate,
                                      float resolution, int count) {
    const int32_t n = AnalysisEngine::frameLengthFor(rate, resolution);
    const long hop = static_cast<long>(rate / 30.0);
    const long filled = (n + hop - 1) / hop;
    std::vector<FrameArrays> frames;
    for (int k = 1; k <= count; ++k)
        frames.push_back(frameEndingAt(signal, rate, n, (filled + k) * hop));
    return frames;
}

std::vector<PitchCents> pitchesOf(const std::vector<FrameArrays>& frames,
                                  const SearchRange& range = kDefaultRange) {
    std::vector<PitchCents> pitches;
    for (const FrameArrays& frame : frames)
        pitches.push_back(estimatePitch(frame.view(), range));
    return pitches;
}

std::vector<double> voicedErrors(const std::vector<PitchCents>& pitches, double frequency) {
    std::vector<double> errors;
    for (PitchCents p : pitches)
        if (p != kNoPitch)
            errors.push_back(p - centsOf(frequency));
    return errors;
}

// The highest sine frequency up to which every frame is voiced: above it the highest
// autocorrelation peak can fall on a multiple of the period (sampled closer to its top than
// the first one), which the octave and twelfth checks do not undo, and the frame is unvoiced.
double highestAlwaysVoiced(float resolution) {
    return resolution <= 10.0f ? 1400.0 : resolution <= 15.0f ? 2000.0 : 2900.0;
}

std::string resolutionName(float resolution) {
    return resolution <= 10.0f ? "High" : resolution <= 15.0f ? "Mid" : "Low";
}

// One sine of the sweep: a resolution and a frequency.
struct SweepSine {
    float resolution;
    double frequency;
};

// Sines every 100 cents from 40 Hz to 4 kHz at each resolution, where the frame holds at
// least kFewestPeriods periods.
std::vector<SweepSine> sweepSines() {
    std::vector<SweepSine> sines;
    for (float resolution : kResolutions) {
        const int32_t frameLength = AnalysisEngine::frameLengthFor(kRate, resolution);
        for (double cents = centsOf(40.0); cents <= centsOf(4000.0); cents += 100.0) {
            const double frequency = c0Frequency * std::pow(2.0, cents / 1200.0);
            if (frequency * frameLength / kRate >= kFewestPeriods)
                sines.push_back({resolution, frequency});
        }
    }
    return sines;
}

class PitchEstimatorSweep : public ::testing::TestWithParam<SweepSine> {};

TEST_P(PitchEstimatorSweep, SineReadsItsPitch) {
    const auto [resolution, frequency] = GetParam();
    const std::vector<FrameArrays> frames =
        steadyFrames(sine(kRate, frequency, 0.5), kRate, resolution, kSteadyFrames);
    const std::vector<PitchCents> pitches = pitchesOf(frames);
    const std::vector<double> errors = voicedErrors(pitches, frequency);
    const double periods = frequency * static_cast<double>(frames[0].spectrum.size()) / kRate;
    SCOPED_TRACE(::testing::Message() << periods << " periods");
    if (frequency > highestAlwaysVoiced(resolution)) {
        for (double e : errors)
            EXPECT_LT(std::fabs(e), kMedianToleranceCents);
        return;
    }
    ASSERT_EQ(errors.size(), pitches.size()) << "every frame voiced";
    const double median = medianOf(errors);
    if (periods >= kManyPeriods) {
        EXPECT_LE(std::fabs(median), kMedianToleranceCents);
    } else {
        EXPECT_GE(median, -kMedianToleranceCents);
        EXPECT_LE(median, kShortFrameSharpBiasCents);
    }
}

INSTANTIATE_TEST_SUITE_P(From40HzTo4kHz, PitchEstimatorSweep, ::testing::ValuesIn(sweepSines()),
                         [](const ::testing::TestParamInfo<SweepSine>& testCase) {
                             return resolutionName(testCase.param.resolution) + "_" +
                                    std::to_string(static_cast<int>(testCase.param.frequency)) +
                                    "Hz";
                         });

TEST(PitchEstimatorWorked, FrequencyToCents) {
    EXPECT_EQ(pitchFromFrequency(440.0), 5700);
    EXPECT_EQ(pitchFromFrequency(441.0), 5703);
    EXPECT_EQ(pitchFromFrequency(261.6255653005986), 4800);
    EXPECT_EQ(pitchFromFrequency(c0Frequency), 0);
}

// The worked results at each resolution's frame length.
class PitchEstimatorWorkedAt : public ::testing::TestWithParam<float> {};

TEST_P(PitchEstimatorWorkedAt, Sine440GivesLag100AndA4) {
    const FrameArrays frame = steadyFrames(sine(kRate, 440.0, 0.5), kRate, GetParam(), 1)[0];
    const PitchSearch search = searchPitch(frame.view(), kDefaultRange);
    EXPECT_EQ(search.bestLag, 100);
    EXPECT_DOUBLE_EQ(search.candidate, 441.0);
    EXPECT_NEAR(search.pitch, 5700, kWorkedTolerance);
    EXPECT_EQ(estimatePitch(frame.view(), kDefaultRange), search.pitch);
}

TEST_P(PitchEstimatorWorkedAt, Sine220GivesLag200AndA3) {
    const FrameArrays frame = steadyFrames(sine(kRate, 220.0, 0.5), kRate, GetParam(), 1)[0];
    const PitchSearch search = searchPitch(frame.view(), kDefaultRange);
    EXPECT_EQ(search.bestLag, 200);
    EXPECT_GE(search.pitch, 4500);
    EXPECT_LE(search.pitch, 4503);
}

std::string nameOfResolution(const ::testing::TestParamInfo<float>& info) {
    return resolutionName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, PitchEstimatorWorkedAt, ::testing::ValuesIn(kResolutions),
                         nameOfResolution);

using RateAndResolution = std::tuple<double, float>;

std::string nameOfRateAndResolution(const ::testing::TestParamInfo<RateAndResolution>& info) {
    return std::to_string(static_cast<int>(std::get<0>(info.param))) + "Hz_" +
           resolutionName(std::get<1>(info.param));
}

class PitchEstimatorSampleRates : public ::testing::TestWithParam<RateAndResolution> {};

TEST_P(PitchEstimatorSampleRates, Sine440ReadsA4) {
    const auto [rate, resolution] = GetParam();
    for (PitchCents p : pitchesOf(steadyFrames(sine(rate, 440.0, 0.5), rate, resolution, 3)))
        EXPECT_NEAR(p, 5700, kWorkedTolerance);
}

INSTANTIATE_TEST_SUITE_P(EverySupportedRate, PitchEstimatorSampleRates,
                         ::testing::Combine(::testing::Values(22050.0, 44100.0, 48000.0, 88200.0,
                                                              96000.0, 192000.0, 384000.0),
                                            ::testing::ValuesIn(kResolutions)),
                         nameOfRateAndResolution);

class PitchEstimatorRateLimits : public ::testing::TestWithParam<RateAndResolution> {};

TEST_P(PitchEstimatorRateLimits, RangeEndsStayInsideTheArrays) {
    // The widest analysis range at the lowest and highest rates: the search reads from lag
    // first to stop + 4 and the refinement below N/2 (AddressSanitizer watches the reads).
    const auto [rate, resolution] = GetParam();
    const SearchRange widest{noteFrequency(12), noteFrequency(108)};
    for (PitchCents p :
         pitchesOf(steadyFrames(sine(rate, 8000.0, 0.5), rate, resolution, 2), widest))
        EXPECT_TRUE(p == kNoPitch || std::fabs(p - centsOf(8000.0)) < kGrossErrorCents) << p;
}

INSTANTIATE_TEST_SUITE_P(LowestAndHighestRate, PitchEstimatorRateLimits,
                         ::testing::Combine(::testing::Values(22050.0, 384000.0),
                                            ::testing::ValuesIn(kResolutions)),
                         nameOfRateAndResolution);

// Harmonic tones with a weak fundamental whose autocorrelation peak lies at a multiple or a
// fraction of the period, so that the spectral checks have to move the candidate.
struct WeakFundamentalTone {
    const char* name;
    float resolution;
    double f0;
    std::vector<double> harmonics;
    double candidateOverF0; // which check moves the candidate: 2F0 or F0/2
};

class PitchEstimatorWeakFundamentals : public ::testing::TestWithParam<WeakFundamentalTone> {};

TEST_P(PitchEstimatorWeakFundamentals, AreRecoveredByTheSpectralChecks) {
    const WeakFundamentalTone& tone = GetParam();
    const std::vector<FrameArrays> frames = steadyFrames(
        harmonicTone(kRate, tone.f0, tone.harmonics), kRate, tone.resolution, kSteadyFrames);
    const std::vector<PitchCents> pitches = pitchesOf(frames);
    const PitchSearch search = searchPitch(frames.back().view(), kDefaultRange);
    ASSERT_NE(search.bestLag, 0);
    EXPECT_DOUBLE_EQ(search.candidate, kRate / search.bestLag * tone.candidateOverF0);
    const std::vector<double> errors = voicedErrors(pitches, tone.f0);
    ASSERT_EQ(errors.size(), pitches.size());
    EXPECT_LT(std::fabs(medianOf(errors)), kMedianToleranceCents);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, PitchEstimatorWeakFundamentals,
    ::testing::Values(
        WeakFundamentalTone{
            "High_600Hz_OctaveUp", 10.0f, 600.0, {0.03, 0.47, 0.38, 0.15, 0.08}, 2.0},
        WeakFundamentalTone{
            "Mid_1800Hz_OctaveUp", 15.0f, 1800.0, {0.06, 0.31, 0.0, 0.35, 0.09}, 2.0},
        WeakFundamentalTone{
            "Low_82Hz_OctaveDown", 30.0f, 82.41, {0.04, 0.07, 0.16, 0.33, 0.01, 0.49}, 0.5},
        WeakFundamentalTone{
            "Low_82Hz_OctaveDownWeaker", 30.0f, 82.41, {0.02, 0.03, 0.11, 0.20, 0.06, 0.44}, 0.5}),
    [](const ::testing::TestParamInfo<WeakFundamentalTone>& testCase) {
        return std::string(testCase.param.name);
    });

class PitchEstimatorManyPeriods : public ::testing::TestWithParam<std::tuple<float, double>> {};

TEST_P(PitchEstimatorManyPeriods, WeakFundamentalNeedsNoCheck) {
    const auto [resolution, f0] = GetParam();
    const std::vector<double> harmonics = {0.05, 0.5, 0.4, 0.3, 0.2, 0.1};
    const std::vector<PitchCents> pitches = pitchesOf(
        steadyFrames(harmonicTone(kRate, f0, harmonics), kRate, resolution, kSteadyFrames));
    const std::vector<double> errors = voicedErrors(pitches, f0);
    ASSERT_EQ(errors.size(), pitches.size());
    EXPECT_LT(std::fabs(medianOf(errors)), kMedianToleranceCents);
}

INSTANTIATE_TEST_SUITE_P(HighAndMid, PitchEstimatorManyPeriods,
                         ::testing::Combine(::testing::Values(10.0f, 15.0f),
                                            ::testing::Values(110.0, 220.0, 330.0)),
                         [](const ::testing::TestParamInfo<std::tuple<float, double>>& testCase) {
                             return resolutionName(std::get<0>(testCase.param)) + "_" +
                                    std::to_string(static_cast<int>(std::get<1>(testCase.param))) +
                                    "Hz";
                         });

// A sine whose highest autocorrelation peak is three periods long: the twelfth check.
TEST(PitchEstimatorHarmonics, PeakAtThreePeriodsIsMovedUpATwelfth) {
    const std::vector<FrameArrays> frames =
        steadyFrames(sine(kRate, 2400.0, 0.5), kRate, 15.0f, kSteadyFrames);
    const std::vector<PitchCents> pitches = pitchesOf(frames);
    const PitchSearch search = searchPitch(frames.back().view(), kDefaultRange);
    EXPECT_EQ(search.bestLag, 55);
    EXPECT_DOUBLE_EQ(search.candidate, 3.0 * kRate / 55);
    for (PitchCents p : pitches)
        EXPECT_NEAR(p, centsOf(2400.0), kMedianToleranceCents);
}

TEST(PitchEstimatorRange, ToneBelowTheRangeHasNoPitch) {
    const SearchRange fromC4{noteFrequency(48), noteFrequency(96)}; // from 261.6 Hz
    for (PitchCents p :
         pitchesOf(steadyFrames(sine(kRate, 110.0, 0.5), kRate, 15.0f, kSteadyFrames), fromC4))
        EXPECT_EQ(p, kNoPitch);
}

TEST(PitchEstimatorRange, NoCandidateAboveTheRangeEnd) {
    // A 1000 Hz sine with the range ending at B5 (987.8 Hz): its own period lies below the
    // first lag searched and the octave check may not go above the end, so whatever the
    // estimator reports lies below the end of the range.
    const NoteNumber endNote = 71;
    const SearchRange toB5{noteFrequency(12), noteFrequency(endNote)};
    for (const FrameArrays& frame :
         steadyFrames(sine(kRate, 1000.0, 0.5), kRate, 15.0f, kSteadyFrames)) {
        const PitchSearch search = searchPitch(frame.view(), toB5);
        EXPECT_LE(search.candidate, noteFrequency(endNote));
        EXPECT_TRUE(search.pitch == kNoPitch || search.pitch < endNote * 100 + 50) << search.pitch;
    }
}

TEST(PitchEstimatorRange, NoSubOctaveBelowTheRangeBeginning) {
    // The 82 Hz tone whose autocorrelation peak lies at the octave above, which the half
    // test moves down (Low_82Hz_OctaveDown), with the range beginning above 82 Hz: the
    // estimator keeps the octave above rather than name a pitch outside the range.
    const SearchRange fromF2{noteFrequency(29), noteFrequency(96)}; // from 87.3 Hz
    const std::vector<double> harmonics = {0.04, 0.07, 0.16, 0.33, 0.01, 0.49};
    for (const FrameArrays& frame :
         steadyFrames(harmonicTone(kRate, 82.41, harmonics), kRate, 30.0f, kSteadyFrames)) {
        const PitchSearch search = searchPitch(frame.view(), fromF2);
        EXPECT_GE(search.candidate, fromF2.begin);
        EXPECT_NEAR(search.pitch, centsOf(2 * 82.41), kMedianToleranceCents);
    }
}

// Whether a frame is voiced at all: a tone buried in noise, or too quiet, has no pitch.
// White noise, the same on every run, by sample index.
std::function<double(long)> toneInNoise(double frequency, double amplitude, double noiseRms) {
    constexpr long kNoiseLength = 1 << 16;
    std::mt19937 generator(29u);
    std::normal_distribution<double> gaussian(0.0, noiseRms);
    auto noise = std::make_shared<std::vector<double>>(kNoiseLength);
    for (double& v : *noise)
        v = gaussian(generator);
    const auto tone = sine(kRate, frequency, amplitude);
    return [=](long i) { return tone(i) + (*noise)[static_cast<size_t>(i % kNoiseLength)]; };
}

// A 220 Hz tone 10 dB below white noise: its autocorrelation peak is a small share of the
// frame's energy. 20 dB above the noise it reads its pitch (how closely, the sweep tells).
constexpr double kToneAmplitude = 0.1;
constexpr double kToneRms = kToneAmplitude * 0.7071067811865476;
constexpr double kNoiseAboveToneRms = kToneRms * 3.1622776601683795; // +10 dB
constexpr double kNoiseBelowToneRms = kToneRms / 10.0;               // -20 dB

TEST(PitchEstimatorVoicing, ToneBuriedInNoiseHasNoPitch) {
    for (float resolution : kResolutions) {
        SCOPED_TRACE(resolutionName(resolution));
        for (PitchCents p :
             pitchesOf(steadyFrames(toneInNoise(220.0, kToneAmplitude, kNoiseAboveToneRms), kRate,
                                    resolution, kSteadyFrames)))
            EXPECT_EQ(p, kNoPitch);
        const std::vector<PitchCents> clear =
            pitchesOf(steadyFrames(toneInNoise(220.0, kToneAmplitude, kNoiseBelowToneRms), kRate,
                                   resolution, kSteadyFrames));
        for (PitchCents p : clear)
            EXPECT_TRUE(p != kNoPitch && std::fabs(p - centsOf(220.0)) < kGrossErrorCents) << p;
    }
}

// A sine at -70 dBFS lies below the estimator's level floor; at -40 dBFS it reads its pitch.
constexpr double kInaudibleAmplitude = 0.0003;
constexpr double kQuietAmplitude = 0.01;

TEST(PitchEstimatorVoicing, ToneBelowTheLevelFloorHasNoPitch) {
    for (float resolution : kResolutions) {
        SCOPED_TRACE(resolutionName(resolution));
        for (PitchCents p : pitchesOf(steadyFrames(sine(kRate, 440.0, kInaudibleAmplitude), kRate,
                                                   resolution, kSteadyFrames)))
            EXPECT_EQ(p, kNoPitch);
        for (PitchCents p : pitchesOf(steadyFrames(sine(kRate, 440.0, kQuietAmplitude), kRate,
                                                   resolution, kSteadyFrames)))
            EXPECT_NEAR(p, 5700, kWorkedTolerance);
    }
}

// bandLevel at the ends of the spectrum, on a hand-made one: bins past either end count as
// silent and are never read (AddressSanitizer watches the reads).
TEST(PitchEstimatorBandLevel, AtTheSpectrumEnds) {
    constexpr int kFrameLength = 4096;
    std::vector<double> spectrum(kFrameLength, 0.0);
    std::vector<double> correlation(kFrameLength, 0.0);
    const FrameView frame{spectrum.data(), correlation.data(), kFrameLength, kRate};
    const int last = kFrameLength / 2 - 1;
    const double binWidth = kRate / kFrameLength;
    spectrum[2 * last] = 3.0;
    spectrum[2 * last + 1] = 4.0;
    // The band around 22000 Hz runs past the last bin; the missing neighbour adds nothing.
    EXPECT_DOUBLE_EQ(bandLevel(frame, last * binWidth), std::sqrt(25.0 / 3.0));
    EXPECT_EQ(bandLevel(frame, 2.0 * kRate), 0.0);
    // Bin 0 holds DC and Nyquist together; below it there is no bin.
    spectrum[0] = 1.0;
    spectrum[1] = 2.0;
    spectrum[2] = 0.5;
    EXPECT_DOUBLE_EQ(bandLevel(frame, 1.0), std::sqrt((5.0 + 0.25) / 3.0));
}

} // namespace
