#include "tests/support/FakeHost.h"

#include "analysis/NoteNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using namespace kelvatone::testsupport;
using namespace kelvatone::analysis;
using namespace kelvatone::vst;

namespace {

enum { kThresholdIndex, kReferenceIndex, kResolutionIndex, kBeginIndex, kEndIndex, kRangeIndex };

// A note or display range as the host value that getParameter reports for it.
float noteValue(int32_t note) {
    return static_cast<float>(note) / 108.0f;
}
float rangeValue(int32_t range) {
    return static_cast<float>(range) / 48.0f;
}

std::string display(const Instance& instance, int32_t index) {
    char text[64];
    std::memset(text, 'x', sizeof(text));
    text[63] = 0;
    instance.dispatch(effGetParamDisplay, index, 0, text);
    return text;
}

std::string name(const Instance& instance, int32_t index) {
    char text[64];
    std::memset(text, 'x', sizeof(text));
    text[63] = 0;
    instance.dispatch(effGetParamName, index, 0, text);
    return text;
}

class Parameters : public ::testing::Test {
protected:
    void TearDown() override { octaveLabelOffset.store(0); }
    Instance instance;
    AnalysisEngine& engine() { return instance.kelvatone().engine; }
};

TEST_F(Parameters, DefaultsAfterConstruction) {
    const float expected[] = {0.5f, 1.0f, 0.5f, 12 / 108.0f, 96 / 108.0f, 18 / 48.0f};
    const char* texts[] = {"25.0", "A4", "Mid", "C1", "C8", "18"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(instance.getParameter(i), expected[i]) << i;
        EXPECT_EQ(display(instance, i), texts[i]) << i;
    }
}

TEST_F(Parameters, NamesAreCutToEightCharacters) {
    const char* names[] = {"Threshol", "440Hz=", "Resoluti", "AnaBegin", "AnaEnd", "DispRang"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(name(instance, i), names[i]);
    char text[16];
    std::memset(text, 'x', sizeof(text));
    instance.dispatch(effGetParamName, kReferenceIndex, 0, text);
    for (int i = 6; i <= 8; ++i)
        EXPECT_EQ(text[i], 0) << "zero-filled to position 8";
    EXPECT_EQ(text[9], 'x') << "nothing written past position 8";
}

TEST_F(Parameters, Threshold) {
    instance.setParameter(kThresholdIndex, 1.0f);
    EXPECT_EQ(engine().threshold.load(), 50.0);
    EXPECT_EQ(display(instance, kThresholdIndex), "50.0");
    instance.setParameter(kThresholdIndex, 0.0f);
    EXPECT_EQ(engine().threshold.load(), 0.0);
    EXPECT_EQ(display(instance, kThresholdIndex), "0.0");
}

TEST_F(Parameters, ReferencePitchSwitchesEveryOctaveLabel) {
    instance.setParameter(kReferenceIndex, 0.5f);
    EXPECT_EQ(display(instance, kReferenceIndex), "A4");
    EXPECT_EQ(instance.getParameter(kReferenceIndex), 1.0f);
    instance.setParameter(kReferenceIndex, 0.49f);
    EXPECT_EQ(display(instance, kReferenceIndex), "A3");
    EXPECT_EQ(instance.getParameter(kReferenceIndex), 0.0f);
    EXPECT_EQ(display(instance, kBeginIndex), "C0");
    Instance other;
    EXPECT_EQ(display(other, kReferenceIndex), "A3") << "shared by every instance";
    EXPECT_EQ(display(other, kEndIndex), "C7");
}

TEST_F(Parameters, ResolutionSteps) {
    struct Case {
        float x;
        float resolution;
        const char* text;
        int32_t fftSize;
    } cases[] = {{0.0f, 10, "High", 8192}, {1 / 3.0f, 10, "High", 8192},
                 {0.34f, 15, "Mid", 4096}, {0.5f, 15, "Mid", 4096},
                 {0.73f, 15, "Mid", 4096}, {22 / 30.0f, 30, "Low", 2048},
                 {1.0f, 30, "Low", 2048}};
    for (const Case& c : cases) {
        instance.setParameter(kResolutionIndex, c.x);
        EXPECT_EQ(engine().resolution.load(), c.resolution) << c.x;
        EXPECT_EQ(display(instance, kResolutionIndex), c.text) << c.x;
        EXPECT_EQ(engine().fftSize, c.fftSize) << "applied at once while no audio runs";
        EXPECT_FLOAT_EQ(instance.getParameter(kResolutionIndex), c.resolution / 30.0f);
    }
}

TEST_F(Parameters, SameResolutionKeepsTheHistory) {
    engine().historyPitch[0].store(4800);
    instance.setParameter(kResolutionIndex, 0.5f);
    EXPECT_EQ(engine().historyPitch[0].load(), 4800);
    instance.setParameter(kResolutionIndex, 1.0f);
    EXPECT_EQ(engine().historyPitch[0].load(), -1) << "a new resolution empties the history";
}

TEST_F(Parameters, AnalysisRangeClamps) {
    instance.setParameter(kBeginIndex, 0.0f);
    EXPECT_EQ(engine().beginNote(), 12);
    instance.setParameter(kBeginIndex, 1.0f);
    EXPECT_EQ(engine().beginNote(), 84) << "endNote - 12";
    instance.setParameter(kBeginIndex, 0.0f);
    instance.setParameter(kEndIndex, 0.0f);
    EXPECT_EQ(engine().endNote(), 24);
    instance.setParameter(kEndIndex, 1.0f);
    EXPECT_EQ(engine().endNote(), 108);
    EXPECT_EQ(display(instance, kEndIndex), "C9");
    EXPECT_DOUBLE_EQ(engine().searchRange().end, noteFrequency(108));
}

// A host restores a session in index order, begin before end: a begin above the end still
// in force is clamped at first and comes back once the saved end arrives.
TEST_F(Parameters, ARestoreInIndexOrderComesBackAsSaved) {
    const std::pair<int32_t, int32_t> sessions[] = {{90, 108}, {84, 96}, {12, 24}, {60, 72}};
    for (auto [begin, end] : sessions) {
        instance.setParameter(kBeginIndex, noteValue(begin));
        instance.setParameter(kEndIndex, noteValue(end));
        EXPECT_EQ(engine().beginNote(), begin) << begin << ".." << end;
        EXPECT_EQ(engine().endNote(), end) << begin << ".." << end;
        EXPECT_FLOAT_EQ(instance.getParameter(kBeginIndex), noteValue(begin));
        EXPECT_DOUBLE_EQ(engine().searchRange().begin, noteFrequency(begin))
            << "the analysis searches from the begin note reported";
    }
    // While the end holds it back, the begin reported is the one the analysis uses.
    instance.setParameter(kBeginIndex, 0.0f);
    instance.setParameter(kEndIndex, noteValue(60));
    instance.setParameter(kBeginIndex, noteValue(70));
    EXPECT_EQ(engine().beginNote(), 48);
    EXPECT_EQ(display(instance, kBeginIndex), "C4");
    EXPECT_DOUBLE_EQ(engine().searchRange().begin, noteFrequency(48));
}

TEST_F(Parameters, DisplayRange) {
    const std::pair<float, int32_t> cases[] = {{0.0f, 12}, {0.25f, 12}, {0.375f, 18}, {1.0f, 48}};
    for (auto [x, range] : cases) {
        instance.setParameter(kRangeIndex, x);
        EXPECT_EQ(engine().displayRange.load(), range) << x;
    }
}

// A host saves what getParameter reports and restores it with setParameter: every value
// of every parameter comes back as it was.
TEST_F(Parameters, EveryReportedValueRestoresItself) {
    auto restores = [this](int32_t index, float x) {
        instance.setParameter(index, x);
        const float reported = instance.getParameter(index);
        const std::string text = display(instance, index);
        instance.setParameter(index, 0.0f);
        instance.setParameter(index, 1.0f);
        instance.setParameter(index, reported);
        EXPECT_EQ(instance.getParameter(index), reported) << index << " at " << x;
        EXPECT_EQ(display(instance, index), text) << index << " at " << x;
    };
    for (int32_t note = 12; note <= 108; ++note) {
        instance.setParameter(kEndIndex, 1.0f);
        instance.setParameter(kBeginIndex, noteValue(note));
        EXPECT_EQ(engine().beginNote(), std::min(note, 96)) << "the value reported for a note";
        restores(kBeginIndex, noteValue(note));
        instance.setParameter(kBeginIndex, 0.0f);
        instance.setParameter(kEndIndex, noteValue(note));
        EXPECT_EQ(engine().endNote(), std::max(note, 24)) << "the value reported for a note";
        restores(kEndIndex, noteValue(note));
    }
    for (int32_t range = 12; range <= 48; ++range) {
        instance.setParameter(kRangeIndex, rangeValue(range));
        EXPECT_EQ(engine().displayRange.load(), range);
        restores(kRangeIndex, rangeValue(range));
    }
    for (float x : {0.0f, 0.5f, 1.0f})
        restores(kResolutionIndex, x);
    for (float x : {0.0f, 1.0f})
        restores(kReferenceIndex, x);
    for (int step = 0; step <= 1000; ++step)
        restores(kThresholdIndex, static_cast<float>(step) / 1000.0f);
}

// Away from a hair below each note boundary, a host value names the note the truncated
// single-precision product always named: automation maps as it did.
TEST_F(Parameters, AutomationSweepsMapToTheSameNotesAsBefore) {
    constexpr double kHair = 1e-3; // semitones below a boundary where a value may move up
    constexpr int kSteps = 200000;
    instance.setParameter(kEndIndex, 1.0f);
    for (int step = 0; step <= kSteps; ++step) {
        const float x = static_cast<float>(step) / kSteps;
        const float product = x * 108.0f;
        const int32_t truncated = std::clamp(static_cast<int32_t>(product), 12, 96);
        const bool aHairBelowANote =
            product < std::ceil(product) && std::ceil(product) - product < kHair;
        instance.setParameter(kBeginIndex, x);
        const int32_t note = engine().beginNote();
        if (aHairBelowANote)
            EXPECT_TRUE(note == truncated || note == std::min(truncated + 1, 96)) << "x = " << x;
        else
            ASSERT_EQ(note, truncated) << "x = " << x;
    }
}

TEST_F(Parameters, IndicesOutsideTheTableChangeNothing) {
    for (int32_t index : {6, -1}) {
        instance.setParameter(index, 0.0f);
        EXPECT_EQ(instance.getParameter(index), 0.0f);
        char text[16] = "untouched";
        instance.dispatch(effGetParamDisplay, index, 0, text);
        EXPECT_STREQ(text, "untouched");
        instance.dispatch(effGetParamName, index, 0, text);
        EXPECT_STREQ(text, "untouched");
    }
    EXPECT_EQ(display(instance, kThresholdIndex), "25.0");
}

TEST_F(Parameters, HostValuesOutsideTheRangeAreClampedAndNaNIgnored) {
    instance.setParameter(kThresholdIndex, 3.0f);
    EXPECT_EQ(engine().threshold.load(), 50.0);
    instance.setParameter(kThresholdIndex, -2.0f);
    EXPECT_EQ(engine().threshold.load(), 0.0);
    instance.setParameter(kEndIndex, 1e9f);
    EXPECT_EQ(engine().endNote(), 108);
    EXPECT_EQ(display(instance, kEndIndex), "C9");
    instance.setParameter(kRangeIndex, std::numeric_limits<float>::infinity());
    EXPECT_EQ(engine().displayRange.load(), 48);
    instance.setParameter(kThresholdIndex, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(engine().threshold.load(), 0.0) << "NaN leaves the value as it was";
    for (int32_t index = 0; index < 6; ++index) {
        instance.setParameter(index, -std::numeric_limits<float>::infinity());
        const float reported = instance.getParameter(index);
        EXPECT_GE(reported, 0.0f);
        EXPECT_LE(reported, 1.0f);
        EXPECT_LE(display(instance, index).size(), 8u);
    }
}

} // namespace
