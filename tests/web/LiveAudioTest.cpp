// The audio side of the page: one column per analysed frame, and none for a history that a
// resolution change cleared within a process call.
#include "web/LiveAudio.h"

#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

using namespace kelvatone::web;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kQuantum = 128;
// A4 at 440 Hz, in cents above C0, and how far the columns of a steady tone may read off.
constexpr int kA4Cents = 5700;
constexpr int kToneToleranceCents = 10;
// The columns a steady tone gives at 48 kHz: one per hop of 1600 samples (1470 at the
// analysis rate of 44.1 kHz), 30 a second.
constexpr double kColumnsPerSecond = 30.0;

// A LiveAudio (large: on the heap, as the page's is) fed a 440 Hz tone quantum by quantum.
class ToneIntoLiveAudio {
public:
    // Runs `seconds` of the tone; answers the frames process reported, and counts the
    // reported columns that do not read A4.
    int run(double seconds) {
        int frames = 0;
        for (int q = 0; q < static_cast<int>(seconds * kRate / kQuantum); ++q)
            frames += quantum();
        return frames;
    }
    // One quantum: the frames process reported.
    int quantum() {
        for (int i = 0; i < kQuantum; ++i, ++sample)
            audio->input()[i] = static_cast<float>(tone(sample));
        const int frames = audio->process(kQuantum);
        if (frames > 0 && std::abs(audio->column().pitch - kA4Cents) > kToneToleranceCents)
            ++columnsOffTone;
        return frames;
    }

    std::unique_ptr<LiveAudio> audio = std::make_unique<LiveAudio>(kRate);
    std::function<double(long)> tone = kelvatone::testsupport::sine(kRate, 440.0, 0.5);
    long sample = 0;
    int columnsOffTone = 0;
};

} // namespace

TEST(LiveAudio, ReportsOneColumnPerFrameAcrossTheHistorysEnd) {
    ToneIntoLiveAudio tone;
    // 15 s: about 450 frames, once and a half round the 320 columns of the history.
    const double seconds = 15.0;
    const int frames = tone.run(seconds);
    EXPECT_NEAR(frames, seconds * kColumnsPerSecond, 2.0);
    // The first frame holds a few hundredths of a second of tone in silence.
    EXPECT_LE(tone.columnsOffTone, 1);
}

TEST(LiveAudio, AResolutionAppliedWithinAProcessCallSendsNoColumn) {
    ToneIntoLiveAudio tone;
    ASSERT_GT(tone.run(1.0), 0);
    const int offBefore = tone.columnsOffTone;
    // The setter finds the engine busy (in a host, the audio thread inside a process
    // call), so the effect applies the change at the start of the next call: it restarts
    // the analysis and clears the history there, which analyses no frame.
    auto& effect = tone.audio->effectForTests();
    const float resolution = effect.getParameter(kelvatone::plugin::kResolution);
    effect.engine.guard.lock();
    tone.audio->setParameter(kelvatone::plugin::kResolution, resolution < 0.5f ? 1.0f : 0.0f);
    effect.engine.guard.unlock();
    EXPECT_EQ(tone.quantum(), 0) << "a cleared history counted as frames";
    EXPECT_EQ(tone.columnsOffTone, offBefore) << "a column without the tone's pitch was sent";
    // The analysis goes on at the new resolution, every column on the tone.
    EXPECT_NEAR(tone.run(1.0), kColumnsPerSecond, 2.0);
    EXPECT_EQ(tone.columnsOffTone, offBefore);
}
