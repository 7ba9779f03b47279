// Every host rate reads as 44100 Hz does: a sweep of sines over the analysis range at several
// levels, an instrument-like harmonic tone with vibrato and the demo take, converted from each
// rate and analysed as the plug-in's intake does, against the same signals at 44100 Hz.
#include "analysis/AnalysisEngine.h"
#include "analysis/RateConverter.h"
#include "tests/analysis/EngineRuns.h"
#include "tools/demo/DemoTake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::demo;
using namespace kelvatone::testsupport;

namespace {

constexpr double kAnalysisRate = RateConverter::kAnalysisRate;
// A reading at another rate may differ from the one at 44100 Hz by this much.
constexpr int kReadingToleranceCents = 3;
// The level of a frame at another rate, relative to the same frame's at 44100 Hz.
constexpr double kLevelRelativeTolerance = 1e-4;
// A tone whose 44100 Hz frames spread wider than this, or mix pitch and no pitch, has no one
// reading there (the Low resolution's shortest frames hold barely two periods of the lowest
// tones, and flip between octaves with the tone's phase in the frame).
constexpr int kSettledSpreadCents = 10;
// At most this many of the sweep's tones may be unsettled so at one resolution.
constexpr int kMostUnsettledTones = 4;

// The sweep: kSweepTones tones spaced evenly in pitch from 40 to 2000 Hz, their amplitudes
// stepping through 0.05 .. 0.5.
constexpr int kSweepTones = 60;
constexpr double kLowestTone = 40.0;
constexpr double kHighestTone = 2000.0;
constexpr int kAmplitudeSteps = 10;
constexpr double kLowestAmplitude = 0.05;
constexpr double kHighestAmplitude = 0.5;
// Frames read per tone once the ring holds nothing but the tone.
constexpr int kSteadyFrames = 5;

const float kResolutions[] = {10.0f, 15.0f, 30.0f};

double sweepFrequency(int tone) {
    return kLowestTone * std::pow(kHighestTone / kLowestTone, tone / (kSweepTones - 1.0));
}
double sweepAmplitude(int tone) {
    const int step = (tone * 7) % kAmplitudeSteps;
    return kLowestAmplitude + (kHighestAmplitude - kLowestAmplitude) * step / (kAmplitudeSteps - 1);
}

struct Frame {
    PitchCents pitch;
    double level;
};

// `inputs` samples of a signal at `rate`, converted to the analysis rate as the intake does.
std::vector<double> convertAtRate(double rate, const std::function<double(long)>& signal,
                                  long inputs) {
    RateConverter converter;
    converter.configure(rate);
    std::vector<double> converted;
    for (long i = 0; i < inputs; ++i)
        converter.push(signal(i), [&converted](double sample) { converted.push_back(sample); });
    return converted;
}

// Analyses a converted stream as the intake does; answers the frames after the first
// `skipped`, at most `wanted` of them.
std::vector<Frame> analyseStream(float resolution, const std::vector<double>& stream, int skipped,
                                 size_t wanted = SIZE_MAX) {
    AnalysisEngine engine;
    engine.resolution.store(resolution);
    engine.configure(kAnalysisRate);
    std::vector<Frame> frames;
    int analysed = 0;
    for (size_t i = 0; i < stream.size() && frames.size() < wanted; ++i) {
        engine.pushSample(stream[i]);
        if (!engine.frameReady())
            continue;
        engine.storeHeldNotes(HeldNoteSet{});
        engine.analyseFrame();
        if (++analysed > skipped) {
            const double level = std::sqrt(engine.correlation[0] * levelScale / engine.fftSize);
            frames.push_back({engine.currentPitch.load(), level});
        }
    }
    return frames;
}

// Frames before the steady ones at a resolution: those until the ring holds nothing but the
// tone, and one more, in which the converter's start-up lies.
int framesBeforeSteady(float resolution) {
    AnalysisEngine sizing;
    sizing.resolution.store(resolution);
    sizing.configure(kAnalysisRate);
    return framesUntilFull(sizing) + 1;
}

// Every sweep tone at a rate, converted: long enough for the steady frames at every
// resolution. Kept for 44100 Hz and the latest other rate, as the cases run rate by rate.
const std::vector<std::vector<double>>& convertedSweep(double rate) {
    static std::map<double, std::vector<std::vector<double>>> kept;
    if (const auto found = kept.find(rate); found != kept.end())
        return found->second;
    for (auto entry = kept.begin(); entry != kept.end();)
        entry = entry->first == kAnalysisRate ? std::next(entry) : kept.erase(entry);
    std::vector<std::vector<double>>& sweep = kept[rate];
    const int longest = framesBeforeSteady(kResolutions[0]);
    const double seconds = (longest + kSteadyFrames + 0.5) / 30.0;
    for (int tone = 0; tone < kSweepTones; ++tone) {
        const double frequency = sweepFrequency(tone);
        const double amplitude = sweepAmplitude(tone);
        // The 32-bit samples a host delivers.
        auto signal = [=](long i) {
            return static_cast<double>(static_cast<float>(
                amplitude * std::sin(2.0 * kPi * frequency * static_cast<double>(i) / rate)));
        };
        sweep.push_back(convertAtRate(rate, signal, static_cast<long>(seconds * rate)));
    }
    return sweep;
}

// The steady frames of one sweep tone at a rate and resolution.
std::vector<Frame> sweepToneFrames(double rate, float resolution, int tone) {
    return analyseStream(resolution, convertedSweep(rate)[tone], framesBeforeSteady(resolution),
                         kSteadyFrames);
}

PitchCents medianPitch(std::vector<Frame> frames) {
    std::sort(frames.begin(), frames.end(),
              [](const Frame& a, const Frame& b) { return a.pitch < b.pitch; });
    return frames[frames.size() / 2].pitch;
}

// Whether the frames agree on one reading: all without pitch, or all with pitches within
// kSettledSpreadCents.
bool settled(const std::vector<Frame>& frames) {
    const auto voiced = std::count_if(frames.begin(), frames.end(),
                                      [](const Frame& f) { return f.pitch != kNoPitch; });
    if (voiced == 0)
        return true;
    if (voiced != static_cast<long>(frames.size()))
        return false;
    const auto [lowest, highest] =
        std::minmax_element(frames.begin(), frames.end(),
                            [](const Frame& a, const Frame& b) { return a.pitch < b.pitch; });
    return highest->pitch - lowest->pitch <= kSettledSpreadCents;
}

// Whether a reading is one that the 44100 Hz frames gave too, within the tolerance.
bool amongReadings(PitchCents pitch, const std::vector<Frame>& reference) {
    return std::any_of(reference.begin(), reference.end(), [pitch](const Frame& f) {
        if (pitch == kNoPitch || f.pitch == kNoPitch)
            return pitch == f.pitch;
        return std::abs(pitch - f.pitch) <= kReadingToleranceCents;
    });
}

std::string describeTone(int tone) {
    return std::to_string(sweepFrequency(tone)) + " Hz at amplitude " +
           std::to_string(sweepAmplitude(tone));
}

// The 44100 Hz frames of every sweep tone at a resolution.
std::vector<std::vector<Frame>> referenceSweep(float resolution) {
    std::vector<std::vector<Frame>> sweep;
    for (int tone = 0; tone < kSweepTones; ++tone)
        sweep.push_back(sweepToneFrames(kAnalysisRate, resolution, tone));
    return sweep;
}

std::string resolutionName(float resolution) {
    return resolution == 10.0f ? "High" : resolution == 15.0f ? "Mid" : "Low";
}

class RateSweep : public ::testing::TestWithParam<std::tuple<double, float>> {};

TEST_P(RateSweep, EveryToneReadsAsAt44100) {
    const auto [rate, resolution] = GetParam();
    const std::vector<std::vector<Frame>> reference = referenceSweep(resolution);
    int unsettled = 0;
    std::string unsettledTones;
    int worstCents = 0;
    for (int tone = 0; tone < kSweepTones; ++tone) {
        const std::vector<Frame> frames = sweepToneFrames(rate, resolution, tone);
        const std::vector<Frame>& expected = reference[tone];
        ASSERT_EQ(frames.size(), expected.size()) << describeTone(tone);
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_NEAR(frames[i].level / expected[i].level, 1.0, kLevelRelativeTolerance)
                << describeTone(tone) << ", frame " << i;
        if (!settled(expected)) {
            // No one reading at 44100 Hz: every frame must give one of its readings.
            ++unsettled;
            unsettledTones += std::to_string(static_cast<int>(sweepFrequency(tone))) + " Hz ";
            for (const Frame& frame : frames)
                EXPECT_TRUE(amongReadings(frame.pitch, expected))
                    << describeTone(tone) << " reads " << frame.pitch
                    << ", never read so at 44100 Hz";
            continue;
        }
        const PitchCents want = medianPitch(expected);
        const PitchCents got = medianPitch(frames);
        if (want == kNoPitch || got == kNoPitch) {
            EXPECT_EQ(got, want) << describeTone(tone);
            continue;
        }
        EXPECT_NEAR(got, want, kReadingToleranceCents) << describeTone(tone);
        worstCents = std::max(worstCents, std::abs(got - want));
    }
    EXPECT_LE(unsettled, kMostUnsettledTones);
    RecordProperty("worst_cents", worstCents);
    RecordProperty("unsettled_tones", unsettledTones);
}

INSTANTIATE_TEST_SUITE_P(RatesAndResolutions, RateSweep,
                         ::testing::Combine(::testing::Values(48000.0, 88200.0, 96000.0, 192000.0),
                                            ::testing::ValuesIn(kResolutions)),
                         [](const ::testing::TestParamInfo<std::tuple<double, float>>& testCase) {
                             return std::to_string(static_cast<int>(std::get<0>(testCase.param))) +
                                    "Hz_" + resolutionName(std::get<1>(testCase.param));
                         });

// Real signals: frame by frame, every frame reads within the tolerance of the same frame at
// 44100 Hz, and has a pitch exactly when that one has.
void expectSameFrames(const std::vector<Frame>& frames, const std::vector<Frame>& expected,
                      const std::string& what) {
    // The converter's delay can leave the last frame of a signal unanalysed.
    ASSERT_GE(frames.size() + 1, expected.size()) << what;
    const size_t common = std::min(frames.size(), expected.size());
    for (size_t i = 0; i < common; ++i) {
        ASSERT_EQ(frames[i].pitch == kNoPitch, expected[i].pitch == kNoPitch)
            << what << ", frame " << i << ": " << frames[i].pitch << " against "
            << expected[i].pitch;
        if (frames[i].pitch != kNoPitch) {
            EXPECT_NEAR(frames[i].pitch, expected[i].pitch, kReadingToleranceCents)
                << what << ", frame " << i;
        }
    }
}

// An instrument-like tone: eight harmonics falling off, the fundamental weaker than the
// second, 5.5 Hz vibrato of 30 cents, on a few notes from E2 to A5.
std::vector<float> vibratoPhrase(double rate) {
    const double notes[] = {82.41, 146.83, 196.0, 329.63, 523.25, 880.0};
    const double harmonics[] = {0.5, 1.0, 0.6, 0.4, 0.25, 0.15, 0.1, 0.05};
    constexpr double kNoteSeconds = 0.8;
    constexpr double kVibratoHz = 5.5;
    constexpr double kVibratoSemitones = 0.3;
    constexpr double kLevel = 0.12;
    std::vector<float> phrase;
    for (double note : notes) {
        double phase = 0.0;
        const long length = static_cast<long>(kNoteSeconds * rate);
        for (long i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double vibrato = kVibratoSemitones / 12.0 * std::sin(2.0 * kPi * kVibratoHz * t);
            phase += 2.0 * kPi * note * std::pow(2.0, vibrato) / rate;
            double value = 0.0;
            for (size_t h = 0; h < std::size(harmonics); ++h)
                value += harmonics[h] * std::sin(static_cast<double>(h + 1) * phase);
            phrase.push_back(static_cast<float>(kLevel * value));
        }
    }
    return phrase;
}

std::vector<double> convertTake(double rate, const std::vector<float>& take) {
    auto signal = [&take](long i) { return static_cast<double>(take[i]); };
    return convertAtRate(rate, signal, static_cast<long>(take.size()));
}

// The vibrato phrase and the demo take made at a rate and converted.
struct ConvertedSignals {
    std::vector<double> vibrato;
    std::vector<double> take;
};

// Kept for 44100 Hz and the latest other rate, as the cases run rate by rate.
const ConvertedSignals& convertedSignals(double rate) {
    static std::map<double, ConvertedSignals> kept;
    if (const auto found = kept.find(rate); found != kept.end())
        return found->second;
    for (auto entry = kept.begin(); entry != kept.end();)
        entry = entry->first == kAnalysisRate ? std::next(entry) : kept.erase(entry);
    ConvertedSignals& signals = kept[rate];
    signals.vibrato = convertTake(rate, vibratoPhrase(rate));
    signals.take = convertTake(rate, renderTake(static_cast<int>(rate)));
    return signals;
}

class RealSignals : public ::testing::TestWithParam<std::tuple<double, float>> {};

TEST_P(RealSignals, VibratoToneAndDemoTakeReadAsAt44100) {
    const auto [rate, resolution] = GetParam();
    // The reference first: making it never drops the other rate's signals.
    const ConvertedSignals& at44100 = convertedSignals(kAnalysisRate);
    const ConvertedSignals& atRate = convertedSignals(rate);
    expectSameFrames(analyseStream(resolution, atRate.vibrato, 0),
                     analyseStream(resolution, at44100.vibrato, 0), "vibrato tone");
    expectSameFrames(analyseStream(resolution, atRate.take, 0),
                     analyseStream(resolution, at44100.take, 0), "demo take");
}

INSTANTIATE_TEST_SUITE_P(HostRates, RealSignals,
                         ::testing::Combine(::testing::Values(48000.0, 88200.0, 96000.0, 192000.0),
                                            ::testing::ValuesIn(kResolutions)),
                         [](const ::testing::TestParamInfo<std::tuple<double, float>>& testCase) {
                             return std::to_string(static_cast<int>(std::get<0>(testCase.param))) +
                                    "Hz_" + resolutionName(std::get<1>(testCase.param));
                         });

} // namespace
