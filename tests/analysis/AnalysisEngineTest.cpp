// The engine: frame lengths and hops, ring and frame order, window, gate, level and history.
#include "analysis/AnalysisEngine.h"
#include "analysis/RealFft.h"
#include "tests/analysis/EngineRuns.h"
#include "tests/support/CountingNew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;

// Every allocation of this test program, counted: a resolution change must make none.
std::atomic<long> allocationCount{0};

void countAllocation() {
    ++allocationCount;
}

namespace {

constexpr double kRate = 44100.0;

TEST(AnalysisEngineConstants, C0AndNoteFrequencies) {
    EXPECT_NEAR(c0Frequency, 16.351597831287414, 1e-12);
    EXPECT_NEAR(log2C0Frequency, 4.03135971352466, 1e-13);
    EXPECT_DOUBLE_EQ(noteFrequency(57), 440.0);
    EXPECT_DOUBLE_EQ(noteFrequency(9), 27.5);
    EXPECT_NEAR(noteFrequency(12), 32.70319566257483, 1e-12);
    EXPECT_NEAR(noteFrequency(96), 4186.009044809578, 1e-9);
    AnalysisEngine engine;
    EXPECT_DOUBLE_EQ(engine.searchRange().begin, noteFrequency(12));
    EXPECT_DOUBLE_EQ(engine.searchRange().end, noteFrequency(96));
}

TEST(AnalysisEngineConfigure, FrameLengthAndHopAt44100) {
    const float resolutions[] = {10.0f, 15.0f, 30.0f};
    const int32_t lengths[] = {8192, 4096, 2048};
    for (int i = 0; i < 3; ++i) {
        AnalysisEngine engine;
        engine.resolution.store(resolutions[i]);
        engine.configure(kRate);
        EXPECT_EQ(engine.fftSize, lengths[i]);
        EXPECT_EQ(engine.hopLength, 1470);
        EXPECT_EQ(engine.engineSampleRate, kRate);
    }
}

TEST(AnalysisEngineConfigure, ExactPowerOfTwoQuotientDoublesTheLength) {
    EXPECT_EQ(AnalysisEngine::frameLengthFor(30720.0, 15.0f), 4096);
    EXPECT_EQ(AnalysisEngine::frameLengthFor(30719.0, 15.0f), 2048);
}

std::string resolutionName(float resolution) {
    return resolution <= 10.0f ? "High" : resolution <= 15.0f ? "Mid" : "Low";
}

class AnalysisEngineSupportedRates : public ::testing::TestWithParam<std::tuple<double, float>> {};

TEST_P(AnalysisEngineSupportedRates, GiveTheFormulaLengthAndHop) {
    const auto [rate, resolution] = GetParam();
    EXPECT_TRUE(AnalysisEngine::supportsSampleRate(rate));
    AnalysisEngine engine;
    engine.resolution.store(resolution);
    engine.configure(rate);
    // The smallest power of two strictly above rate / resolution.
    EXPECT_GT(engine.fftSize, rate / resolution);
    EXPECT_LE(engine.fftSize / 2, rate / resolution);
    EXPECT_EQ(engine.fftSize & (engine.fftSize - 1), 0);
    EXPECT_EQ(engine.hopLength, static_cast<int32_t>(rate / 30.0));
}

INSTANTIATE_TEST_SUITE_P(RatesAndResolutions, AnalysisEngineSupportedRates,
                         ::testing::Combine(::testing::Values(22050.0, 44100.0, 48000.0, 88200.0,
                                                              96000.0, 176400.0, 192000.0,
                                                              384000.0),
                                            ::testing::Values(10.0f, 15.0f, 30.0f)),
                         [](const ::testing::TestParamInfo<std::tuple<double, float>>& testCase) {
                             return std::to_string(static_cast<int>(std::get<0>(testCase.param))) +
                                    "Hz_" + resolutionName(std::get<1>(testCase.param));
                         });

TEST(AnalysisEngineConfigure, RefusesRatesOutsideTheRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (double rate : {0.0, -44100.0, 8000.0, 16000.0, 22049.0, 384001.0, 768000.0, nan, infinity})
        EXPECT_FALSE(AnalysisEngine::supportsSampleRate(rate)) << rate;
}

TEST(AnalysisEngineConfigure, StartsEmptyAndZeroesTheRing) {
    AnalysisEngine engine;
    engine.configure(kRate);
    for (int i = 0; i < engine.fftSize + 100; ++i)
        engine.pushSample(0.75);
    engine.historyIndex.store(17);
    engine.historyPitch[3].store(4200);
    engine.currentPitch.store(4321);

    engine.configure(kRate);
    EXPECT_EQ(engine.ringWriteIndex, 0);
    EXPECT_EQ(engine.hopCounter, 0);
    EXPECT_EQ(engine.historyIndex.load(), 0);
    EXPECT_EQ(engine.currentPitch.load(), 4321) << "configure keeps the latest result";
    for (int i = 0; i < kHistoryLength; ++i) {
        EXPECT_EQ(engine.historyPitch[i].load(), kNoPitch);
        const HeldNoteSet notes = engine.historyNotes[i].load();
        for (uint32_t word : notes.words)
            EXPECT_EQ(word, 0u);
    }
    for (int i = 0; i < engine.fftSize; ++i)
        ASSERT_EQ(engine.sampleRing[i], 0.0) << i;
}

TEST(AnalysisEngineWindow, PeriodicHannValues) {
    for (float resolution : {10.0f, 15.0f, 30.0f}) {
        AnalysisEngine engine;
        engine.resolution.store(resolution);
        engine.configure(kRate);
        const int n = engine.fftSize;
        EXPECT_EQ(engine.hannWindow[0], 0.0);
        EXPECT_EQ(engine.hannWindow[n / 2], 1.0);
        EXPECT_NEAR(engine.hannWindow[n / 4], 0.5, 1e-15);
        for (int j = 1; j < n; ++j)
            ASSERT_NEAR(engine.hannWindow[j], engine.hannWindow[n - j], 1e-15) << j;
    }
}

TEST(AnalysisEngineHop, FirstAnalysisOnTheHopLengthPushAndCounterSaturates) {
    AnalysisEngine engine;
    engine.configure(kRate);
    for (int i = 1; i < engine.hopLength; ++i) {
        engine.pushSample(0.0);
        ASSERT_FALSE(engine.frameReady()) << i;
    }
    engine.pushSample(0.0);
    EXPECT_TRUE(engine.frameReady());
    engine.analyseFrame();
    EXPECT_EQ(engine.hopCounter, 0);
    EXPECT_FALSE(engine.frameReady());

    engine.hopCounter = INT32_MAX - 1;
    for (int i = 0; i < 3; ++i)
        engine.pushSample(0.0);
    EXPECT_EQ(engine.hopCounter, INT32_MAX);
    EXPECT_TRUE(engine.frameReady());
}

// The analysed frame, recovered from the spectrum that analyseFrame leaves in `frame`.
std::vector<double> recoveredFrame(AnalysisEngine& engine) {
    const int n = engine.fftSize;
    std::vector<double> f(engine.frame.get(), engine.frame.get() + n);
    realFft(n, -1, f.data(), engine.fftWork.get(), engine.fftTable.get());
    for (double& v : f)
        v /= n / 2;
    return f;
}

TEST(AnalysisEngineFrame, StartsWithTheOldestSample) {
    AnalysisEngine engine;
    engine.resolution.store(30.0f);
    engine.configure(kRate);
    engine.threshold.store(1e300);
    const int n = engine.fftSize;
    // Values 1..N, then (so that the ring has wrapped) 37 more: the oldest is then 38.
    for (int extra : {0, 37}) {
        engine.configure(kRate);
        for (int i = 1; i <= n + extra; ++i)
            engine.pushSample(i);
        engine.analyseFrame();
        const std::vector<double> f = recoveredFrame(engine);
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(f[i], (i + 1 + extra) * engine.hannWindow[i], 1e-9 * n) << i;
    }
}

TEST(AnalysisEngineFrame, ZeroLagIsHalfTheLengthTimesTheFrameEnergy) {
    AnalysisEngine engine;
    engine.threshold.store(1e300);
    analyse(engine, kRate, sine(kRate, 440.0, 0.5), 4);
    const std::vector<double> f = recoveredFrame(engine);
    double energy = 0.0;
    for (double v : f)
        energy += v * v;
    EXPECT_NEAR(engine.correlation[0], energy * engine.fftSize / 2, 1e-9 * engine.correlation[0]);
}

double frameLevel(const AnalysisEngine& engine) {
    return std::sqrt(engine.correlation[0] * levelScale / engine.fftSize);
}

TEST(AnalysisEngineLevel, SteadySineOfHalfAmplitude) {
    // About 485, 686 and 971: the level grows with the square root of N.
    constexpr double kLevelTolerance = 2.0;
    const float resolutions[] = {30.0f, 15.0f, 10.0f};
    const double levels[] = {485.0, 686.0, 971.0};
    for (int i = 0; i < 3; ++i) {
        AnalysisEngine engine;
        engine.resolution.store(resolutions[i]);
        steadyPitches(engine, kRate, sine(kRate, 440.0, 0.5), 1);
        EXPECT_NEAR(frameLevel(engine), levels[i], kLevelTolerance) << engine.fftSize;
    }
}

TEST(AnalysisEngineGate, LevelEqualToThresholdPasses) {
    AnalysisEngine engine;
    engine.threshold.store(0.0);
    steadyPitches(engine, kRate, sine(kRate, 440.0, 0.01), 1);
    ASSERT_NE(engine.currentPitch.load(), kNoPitch);
    const double level = frameLevel(engine);

    // The ring is unchanged, so analysing again gives the same level.
    engine.threshold.store(level);
    engine.analyseFrame();
    EXPECT_NE(engine.currentPitch.load(), kNoPitch);
    engine.threshold.store(std::nextafter(level, 1e300));
    engine.analyseFrame();
    EXPECT_EQ(engine.currentPitch.load(), kNoPitch);
}

TEST(AnalysisEngineGate, SilenceHasNoPitchWhateverTheThreshold) {
    for (double threshold : {0.0, 25.0}) {
        AnalysisEngine engine;
        engine.threshold.store(threshold);
        const std::vector<PitchCents> pitches = analyse(
            engine, kRate, [](long) { return 0.0; }, 5);
        EXPECT_EQ(frameLevel(engine), 0.0);
        for (PitchCents p : pitches)
            EXPECT_EQ(p, kNoPitch) << threshold;
    }
}

// The engine reads its frame through the estimator, over its own range.
TEST(AnalysisEngineEstimator, ReadsTheEstimatorsPitchOverItsFrameAndRange) {
    AnalysisEngine engine;
    const std::vector<PitchCents> a4 = steadyPitches(engine, kRate, sine(kRate, 440.0, 0.5), 1);
    ASSERT_NE(a4[0], kNoPitch);
    EXPECT_EQ(a4[0], estimatePitch(engine.frameView(), engine.searchRange()));

    engine.requestBeginNote(60); // C5, above the tone
    const std::vector<PitchCents> belowRange =
        steadyPitches(engine, kRate, sine(kRate, 440.0, 0.5), 1);
    EXPECT_EQ(belowRange[0], kNoPitch);
    EXPECT_EQ(estimatePitch(engine.frameView(), SearchRange{noteFrequency(12), noteFrequency(96)}),
              a4[0])
        << "the same frame over the default range";
}

TEST(AnalysisEngineHistory, ColumnsWrapFrom319To0AndKeepTheirNotes) {
    AnalysisEngine engine;
    engine.resolution.store(30.0f);
    engine.threshold.store(0.0);
    const auto tone = sine(kRate, 440.0, 0.5);
    engine.configure(kRate);
    long sample = 0;
    for (int column = 0; column < kHistoryLength + 2; ++column) {
        ASSERT_EQ(engine.historyIndex.load(), column % kHistoryLength);
        do
            engine.pushSample(tone(sample++));
        while (!engine.frameReady());
        HeldNoteSet notes;
        notes.words[column % 4] = 1u << (column % 32);
        engine.storeHeldNotes(notes);
        engine.analyseFrame();
        const int written = column % kHistoryLength;
        EXPECT_EQ(engine.historyPitch[written].load(), engine.currentPitch.load());
        EXPECT_EQ(engine.historyNotes[written].load().words[column % 4], 1u << (column % 32));
    }
    EXPECT_EQ(engine.historyIndex.load(), 2);
    EXPECT_TRUE(engine.historyNotes[0].load().contains((320 % 4) * 32 + 320 % 32));
}

// Analyses `frames` frames of a signal from its first sample on, with the engine as it
// stands; answers the pitches and leaves the last frame's correlation in the engine.
std::vector<PitchCents> pitchesAsConfigured(AnalysisEngine& engine,
                                            const std::function<double(long)>& signal, int frames) {
    std::vector<PitchCents> pitches;
    for (long i = 0; static_cast<int>(pitches.size()) < frames; ++i) {
        engine.pushSample(signal(i));
        if (engine.frameReady()) {
            engine.analyseFrame();
            pitches.push_back(engine.currentPitch.load());
        }
    }
    return pitches;
}

class AnalysisEngineResolution : public ::testing::TestWithParam<double> {};

TEST_P(AnalysisEngineResolution, ChangesReuseTheArraysAndMatchAFreshConfiguration) {
    constexpr int kFrames = 12;
    const float resolutions[] = {10.0f, 30.0f, 15.0f, 10.0f};
    const double rate = GetParam();
    const auto tone = harmonicTone(rate, 196.0, {0.3, 0.2, 0.1});
    AnalysisEngine changed;
    changed.resolution.store(resolutions[0]);
    changed.configure(rate);
    for (size_t i = 1; i < std::size(resolutions); ++i) {
        SCOPED_TRACE(::testing::Message() << "to resolution " << resolutions[i]);
        pitchesAsConfigured(changed, tone, 2);
        changed.resolution.store(resolutions[i]);
        const long allocationsBefore = allocationCount.load();
        changed.applyResolution();
        EXPECT_EQ(allocationCount.load(), allocationsBefore);
        EXPECT_EQ(changed.historyIndex.load(), 0);
        EXPECT_EQ(changed.historyPitch[0].load(), kNoPitch) << "the history is emptied";

        AnalysisEngine fresh;
        fresh.resolution.store(resolutions[i]);
        fresh.configure(rate);
        ASSERT_EQ(changed.fftSize, fresh.fftSize);
        for (int j = 0; j < fresh.fftSize; ++j)
            ASSERT_EQ(changed.hannWindow[j], fresh.hannWindow[j]) << j;
        EXPECT_EQ(pitchesAsConfigured(changed, tone, kFrames),
                  pitchesAsConfigured(fresh, tone, kFrames));
        EXPECT_EQ(std::memcmp(changed.correlation.get(), fresh.correlation.get(),
                              sizeof(double) * static_cast<size_t>(fresh.fftSize)),
                  0)
            << "the same bits";
    }
}

// 30720 Hz makes High and Mid share one frame length.
INSTANTIATE_TEST_SUITE_P(Rates, AnalysisEngineResolution,
                         ::testing::Values(44100.0, 48000.0, 30720.0, 96000.0),
                         [](const ::testing::TestParamInfo<double>& testCase) {
                             return std::to_string(static_cast<int>(testCase.param)) + "Hz";
                         });

} // namespace
