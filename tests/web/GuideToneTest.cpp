#include "web/GuideTone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using kelvatone::analysis::HeldNoteSet;
using kelvatone::web::GuideTone;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kBlock = 128;
// Half a second of tone, rendered block by block as the worklet does.
constexpr int kBlocks = 188;
// The fades last a few milliseconds: measured from 50 ms on they are over.
constexpr int kSettledFrames = 2400;
// The level of one note's sine, and how near its peak and RMS must come.
constexpr double kNoteLevel = 0.05;
constexpr double kLevelTolerance = 0.002;
constexpr double kFrequencyToleranceHz = 1.0;
// The first millisecond after a note starts or ends, where a step would click.
constexpr size_t kFirstMillisecond = 48;

double peak(const std::vector<float>& samples, size_t count) {
    double most = 0.0;
    for (size_t i = 0; i < count; ++i)
        most = std::max(most, double(std::abs(samples[i])));
    return most;
}

std::vector<float> render(GuideTone& tone, const HeldNoteSet& notes, int blocks) {
    std::vector<float> out(static_cast<size_t>(blocks * kBlock));
    for (int b = 0; b < blocks; ++b)
        tone.render(notes, out.data() + b * kBlock, kBlock);
    return out;
}

double rms(const std::vector<float>& samples, size_t from) {
    double sum = 0.0;
    for (size_t i = from; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(samples.size() - from));
}

// From the rising zero crossings after `from`, first to last.
double frequencyOf(const std::vector<float>& samples, size_t from) {
    std::vector<double> crossings;
    for (size_t i = from + 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f)
            crossings.push_back(double(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]));
    }
    if (crossings.size() < 2)
        return 0.0;
    return (double(crossings.size()) - 1.0) * kRate / (crossings.back() - crossings.front());
}

HeldNoteSet a4() {
    HeldNoteSet notes;
    notes.add(69);
    return notes;
}

} // namespace

TEST(GuideTone, OffByDefaultAndSilentWhileOff) {
    GuideTone tone(kRate);
    EXPECT_FALSE(tone.on());
    const auto out = render(tone, a4(), kBlocks);
    EXPECT_EQ(rms(out, 0), 0.0);
}

TEST(GuideTone, AHeldA4SoundsSoftlyAt440Hz) {
    GuideTone tone(kRate);
    tone.setOn(true);
    const auto out = render(tone, a4(), kBlocks);
    EXPECT_NEAR(rms(out, kSettledFrames), kNoteLevel / std::sqrt(2.0), kLevelTolerance);
    EXPECT_NEAR(frequencyOf(out, kSettledFrames), 440.0, kFrequencyToleranceHz);
    // It fades in: its first millisecond stays well below the full level, not a step to it.
    EXPECT_LT(peak(out, kFirstMillisecond), kNoteLevel / 4);
}

TEST(GuideTone, AReleasedNoteFadesToSilence) {
    GuideTone tone(kRate);
    tone.setOn(true);
    render(tone, a4(), kBlocks);
    const auto after = render(tone, HeldNoteSet{}, kBlocks);
    // It fades out rather than stopping dead (a click): the first millisecond still sounds.
    EXPECT_GT(peak(after, kFirstMillisecond), kNoteLevel / 2);
    EXPECT_EQ(rms(after, kSettledFrames), 0.0);
}
