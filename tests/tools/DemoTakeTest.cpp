// The demo take must show what it claims to: the engine hears each note of the melody
// where the MIDI part says it was meant, off by the cents the "singer" is off.
#include "tools/demo/DemoTake.h"

#include "analysis/AnalysisEngine.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kelvatone::demo;
using namespace kelvatone::analysis;

namespace {

// Vibrato of +/-25 cents averages out in the median; the rest is estimator error.
constexpr int kMedianToleranceCents = 8;
// Frames near a note's edges hold glides and onsets.
constexpr double kEdgeSeconds = 0.25;

struct AnalysedFrame {
    double time;
    PitchCents pitch;
};

std::vector<AnalysedFrame> analyseTake(const std::vector<float>& take) {
    AnalysisEngine engine;
    engine.configure(kSampleRate);
    std::vector<AnalysedFrame> frames;
    for (size_t i = 0; i < take.size(); ++i) {
        engine.pushSample(static_cast<double>(take[i] + take[i]) * 0.5);
        if (engine.frameReady()) {
            engine.analyseFrame();
            frames.push_back({static_cast<double>(i) / kSampleRate, engine.currentPitch.load()});
        }
    }
    return frames;
}

PitchCents medianPitchBetween(const std::vector<AnalysedFrame>& frames, double from, double to) {
    std::vector<PitchCents> pitches;
    for (const AnalysedFrame& f : frames)
        if (f.time >= from && f.time <= to && f.pitch >= 0)
            pitches.push_back(f.pitch);
    if (pitches.empty())
        return kNoPitch;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}

TEST(DemoTake, EveryNoteIsHeardWhereItIsMeant) {
    const std::vector<float> take = renderTake();
    ASSERT_EQ(take.size(), static_cast<size_t>(kDurationSeconds * kSampleRate));
    const std::vector<AnalysedFrame> frames = analyseTake(take);
    for (const Note& note : melody()) {
        const PitchCents expected =
            (note.midiNote - 12) * 100 + static_cast<PitchCents>(note.detuneCents);
        EXPECT_NEAR(medianPitchBetween(frames, note.start + kEdgeSeconds, note.end - kEdgeSeconds),
                    expected, kMedianToleranceCents)
            << "MIDI note " << note.midiNote << " at " << note.start << " s";
    }
}

TEST(DemoTake, TheRestIsSilent) {
    const std::vector<float> take = renderTake();
    const std::vector<AnalysedFrame> frames = analyseTake(take);
    // The rest between 5.0 and 6.0 s, after the frame has left the last note behind.
    EXPECT_EQ(medianPitchBetween(frames, 5.2, 5.9), kNoPitch);
    for (float sample : take)
        ASSERT_LE(std::abs(sample), 1.0f);
}

TEST(DemoTake, MidiPartIsAFormatZeroFileWithEveryNote) {
    const std::vector<uint8_t> file = midiPart();
    ASSERT_GE(file.size(), 22u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "MThd");
    EXPECT_EQ(file[9], 0) << "format 0";
    EXPECT_EQ(file[11], 1) << "one track";
    EXPECT_EQ(std::string(file.begin() + 14, file.begin() + 18), "MTrk");
    const uint32_t trackLength = (uint32_t(file[18]) << 24) | (uint32_t(file[19]) << 16) |
                                 (uint32_t(file[20]) << 8) | file[21];
    EXPECT_EQ(trackLength + 22, file.size());
    const size_t noteOns = std::count(file.begin() + 22, file.end(), uint8_t{0x90});
    EXPECT_EQ(noteOns, melody().size());
    EXPECT_EQ(file[file.size() - 2], 0x2F) << "ends with end of track";
}

} // namespace
