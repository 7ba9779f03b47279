#include "tests/support/FakeHost.h"
#include "tools/demo/DemoTake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace kelvatone::testsupport;
using namespace kelvatone::demo;
using namespace kelvatone::analysis;
using namespace kelvatone::vst;
using namespace kelvatone::plugin;

namespace {

// A steady A4 must read A4 whatever rate the host runs at.
constexpr PitchCents kA4 = 5700;
constexpr int kToleranceCents = 2;

PitchCents median(std::vector<PitchCents> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

class SampleRates : public ::testing::TestWithParam<double> {};

TEST_P(SampleRates, A440ReadsA4) {
    const double rate = GetParam();
    Instance instance;
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    const AnalysisEngine& engine = instance.kelvatone().engine;
    // The host's rate reaches the converter; the analysis stays at 44100 Hz.
    EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), rate);
    EXPECT_EQ(instance.kelvatone().rateConverter().isPassThrough(), rate == 44100.0);
    EXPECT_EQ(engine.engineSampleRate, 44100.0);
    EXPECT_EQ(engine.hopLength, 1470);
    EXPECT_EQ(engine.fftSize, 4096);
    const std::vector<PitchCents> pitches = pitchesOfSine(instance, 440.0, rate, 1.0);
    ASSERT_GE(pitches.size(), 20u);
    for (PitchCents p : pitches)
        EXPECT_NEAR(p, kA4, kToleranceCents) << "at " << rate << " Hz";
    EXPECT_NEAR(median(pitches), kA4, kToleranceCents);
}

INSTANTIATE_TEST_SUITE_P(HostRates, SampleRates,
                         ::testing::Values(22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0));

// Feeds a mono take through the effect in host-sized blocks (both channels alike); answers
// the pitch of every analysed frame.
std::vector<PitchCents> pitchesOfTake(Instance& instance, const std::vector<float>& take) {
    constexpr int32_t kBlock = 512;
    Kelvatone& effect = instance.kelvatone();
    StereoBlock block(kBlock);
    std::vector<PitchCents> pitches;
    for (size_t start = 0; start < take.size(); start += kBlock) {
        const int32_t frames = static_cast<int32_t>(std::min<size_t>(kBlock, take.size() - start));
        std::copy_n(take.begin() + start, frames, block.left.begin());
        std::copy_n(take.begin() + start, frames, block.right.begin());
        const int32_t before = effect.engine.historyIndex.load();
        effect.processReplacing(block.inputs, block.outputs, frames);
        for (int32_t c = before; c != effect.engine.historyIndex.load();
             c = (c + 1) % kHistoryLength)
            pitches.push_back(effect.engine.historyPitch[c].load());
    }
    return pitches;
}

// The demo take played at the host's rate draws the trace it draws at 44100 Hz: frame by
// frame, the same frames voiced, pitches within the rate tolerance.
TEST_P(SampleRates, DemoTakeDrawsTheTraceOf44100) {
    constexpr int kRateToleranceCents = 3;
    const double rate = GetParam();
    Instance reference;
    const std::vector<PitchCents> expected = pitchesOfTake(reference, renderTake());
    Instance instance;
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    const std::vector<PitchCents> pitches =
        pitchesOfTake(instance, renderTake(static_cast<int>(rate)));
    // The converter's delay (under 2 ms) may leave the take's last frame for later.
    ASSERT_GE(pitches.size() + 1, expected.size());
    ASSERT_LE(pitches.size(), expected.size());
    for (size_t i = 0; i < pitches.size(); ++i) {
        ASSERT_EQ(pitches[i] == kNoPitch, expected[i] == kNoPitch) << "frame " << i;
        EXPECT_NEAR(pitches[i], expected[i], kRateToleranceCents) << "frame " << i;
    }
}

TEST(SampleRate, UnsupportedRatesAreStoredButLeaveTheEngine) {
    Instance instance;
    for (float rate : {8000.0f, 0.0f, -44100.0f, 1e6f}) {
        instance.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        EXPECT_EQ(instance.kelvatone().getSampleRate(), rate);
        EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), 44100.0);
        EXPECT_EQ(instance.kelvatone().engine.engineSampleRate, 44100.0);
        EXPECT_EQ(instance.kelvatone().engine.fftSize, 4096);
    }
}

TEST(SampleRate, TheSameRateKeepsTheHistory) {
    Instance instance;
    instance.kelvatone().engine.historyPitch[3].store(5000);
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    EXPECT_EQ(instance.kelvatone().engine.historyPitch[3].load(), 5000);
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(instance.kelvatone().engine.historyPitch[3].load(), -1);
}

TEST(SampleRate, ResolutionChangesKeepTheHostRate) {
    Instance instance;
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    instance.setParameter(2, 0.0f);
    EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), 48000.0);
    EXPECT_EQ(instance.kelvatone().engine.engineSampleRate, 44100.0);
    EXPECT_EQ(instance.kelvatone().engine.fftSize, 8192);
    const std::vector<PitchCents> pitches = pitchesOfSine(instance, 440.0, 48000.0, 1.0);
    ASSERT_FALSE(pitches.empty());
    EXPECT_NEAR(median(pitches), kA4, kToleranceCents);
}

} // namespace

// A rate announced while a process call holds the engine is applied by the announcing
// thread once the call is over, never left for the audio thread to rebuild (which
// would allocate there).
TEST(SampleRate, AChangeMetByAProcessCallWaitsForItAndIsAppliedAtOnce) {
    Instance instance;
    AnalysisEngine& engine = instance.kelvatone().engine;
    ASSERT_TRUE(engine.guard.tryLock()); // stands for processReplacing on the audio thread
    std::atomic<bool> returned{false};
    std::thread setter([&] {
        instance.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
        returned.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), 44100.0);
    engine.guard.unlock();
    setter.join();
    EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), 48000.0);
    EXPECT_EQ(engine.hopLength, 1470);
}
