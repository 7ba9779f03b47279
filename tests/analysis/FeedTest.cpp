// The feed into the analysis: the mono mix, the frames it reports due and their sample
// indices, and a frame left due while the display is held.
#include "analysis/Feed.h"
#include "tests/analysis/EngineRuns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;

namespace {

constexpr double kRate = RateConverter::kAnalysisRate;
constexpr int32_t kHop = 1470;

TEST(MonoMix, SumsInSinglePrecisionThenHalves) {
    EXPECT_EQ(monoMix(0.5f, -0.25f), 0.125);
    // 1 + 2^-24 is 1 in single precision: the intake's sum, which every host rate and the
    // tool must reproduce bit for bit.
    EXPECT_EQ(monoMix(1.0f, std::ldexp(1.0f, -24)), 0.5);
}

struct FeedAt44100 : ::testing::Test {
    void SetUp() override {
        converter.configure(kRate);
        engine.configure(kRate);
    }
    RateConverter converter;
    AnalysisEngine engine;
    // The test's thread owns the engine, as the feed asks of its caller.
    GuardHold ownEngine{engine.guard};
    AnalysisFeed feed{converter, engine};
};

TEST_F(FeedAt44100, AnalysedFramesAreThoseOfTheEngineFedDirectly) {
    const auto tone = harmonicTone(kRate, 220.0, {0.3, 0.2});
    constexpr int kFrames = 10;
    std::vector<int64_t> newest;
    std::vector<PitchCents> pitches;
    for (long i = 0; static_cast<int>(pitches.size()) < kFrames; ++i) {
        feed.push(tone(i), [&](int64_t sample) {
            newest.push_back(sample);
            engine.analyseFrame();
            pitches.push_back(engine.currentPitch.load());
        });
    }
    AnalysisEngine direct;
    EXPECT_EQ(pitches, analyse(direct, kRate, tone, kFrames));
    for (int k = 0; k < kFrames; ++k)
        EXPECT_EQ(newest[k], static_cast<int64_t>(k + 1) * kHop - 1) << "frame " << k;
    EXPECT_EQ(feed.converted(), static_cast<int64_t>(kFrames) * kHop);
}

TEST_F(FeedAt44100, AFrameLeftUnanalysedStaysDueUntilAnalysed) {
    int calls = 0;
    auto leaveDue = [&calls](int64_t) { ++calls; };
    for (int32_t i = 0; i < kHop + 5; ++i)
        feed.pushStereo(0.25f, 0.25f, leaveDue);
    EXPECT_EQ(calls, 6) << "due on the hop's last sample and on every one after it";
    auto analyseNow = [this, &calls](int64_t) {
        ++calls;
        engine.analyseFrame();
    };
    feed.pushStereo(0.25f, 0.25f, analyseNow);
    feed.pushStereo(0.25f, 0.25f, analyseNow);
    EXPECT_EQ(calls, 7) << "analysing the frame restarts the hop";
}

TEST(FeedAt48000, ConvertsToTheAnalysisRateBeforeTheRing) {
    constexpr double kHostRate = 48000.0;
    RateConverter converter;
    converter.configure(kHostRate);
    AnalysisEngine engine;
    const GuardHold ownEngine(engine.guard);
    engine.configure(kRate);
    AnalysisFeed feed(converter, engine);
    const auto tone = sine(kHostRate, 440.0, 0.5);
    std::vector<PitchCents> pitches;
    const long seconds = 1;
    for (long i = 0; i < seconds * static_cast<long>(kHostRate); ++i) {
        feed.push(tone(i), [&](int64_t) {
            engine.analyseFrame();
            pitches.push_back(engine.currentPitch.load());
        });
    }
    // Within one hop of a second at the analysis rate: the converter's delay is below one.
    EXPECT_GT(feed.converted(), static_cast<int64_t>(kRate) - kHop);
    EXPECT_LE(feed.converted(), static_cast<int64_t>(kRate));
    ASSERT_GE(pitches.size(), 20u);
    EXPECT_NEAR(pitches.back(), 5700, 2) << "440 Hz at 48000 Hz reads A4 as at 44100 Hz";
}

} // namespace
