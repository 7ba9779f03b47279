#include "tests/support/FakeHost.h"

#include "analysis/NoteNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using namespace kelvatone::testsupport;
using namespace kelvatone::analysis;
using namespace kelvatone::vst;

namespace {

enum { kThresholdIndex, kReferenceIndex, kResolutionIndex, kBeginIndex, kEndIndex, kRangeIndex };

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
    EXPECT_EQ(engine().beginNote.load(), 12);
    instance.setParameter(kBeginIndex, 1.0f);
    EXPECT_EQ(engine().beginNote.load(), 84) << "endNote - 12";
    instance.setParameter(kBeginIndex, 0.0f);
    instance.setParameter(kEndIndex, 0.0f);
    EXPECT_EQ(engine().endNote.load(), 24);
    instance.setParameter(kEndIndex, 1.0f);
    EXPECT_EQ(engine().endNote.load(), 108);
    EXPECT_EQ(display(instance, kEndIndex), "C9");
    EXPECT_DOUBLE_EQ(engine().endFrequency.load(), noteFrequency(108));
}

TEST_F(Parameters, RestoringBeginBeforeEndClampsAgainstTheOldEnd) {
    instance.setParameter(kBeginIndex, 90 / 108.0f);
    instance.setParameter(kEndIndex, 1.0f);
    EXPECT_EQ(engine().beginNote.load(), 84);
    EXPECT_EQ(engine().endNote.load(), 108);
}

TEST_F(Parameters, DisplayRange) {
    const std::pair<float, int32_t> cases[] = {{0.0f, 12}, {0.25f, 12}, {0.375f, 18}, {1.0f, 48}};
    for (auto [x, range] : cases) {
        instance.setParameter(kRangeIndex, x);
        EXPECT_EQ(engine().displayRange.load(), range) << x;
    }
}

TEST_F(Parameters, RoundTripOfTheReportedValue) {
    for (int32_t note = 12; note <= 84; ++note) {
        instance.setParameter(kEndIndex, 1.0f);
        instance.setParameter(kBeginIndex, static_cast<float>(note) / 108.0f);
        const float reported = instance.getParameter(kBeginIndex);
        instance.setParameter(kBeginIndex, reported);
        const bool dropsBelow = note == 29 || note == 58 || note == 63;
        EXPECT_EQ(engine().beginNote.load(), dropsBelow ? note - 1 : note) << note;
    }
    for (float x : {0.0f, 0.3f, 0.5f, 1.0f}) {
        for (int32_t index : {kThresholdIndex, kReferenceIndex, kResolutionIndex, kRangeIndex}) {
            instance.setParameter(index, x);
            const float reported = instance.getParameter(index);
            instance.setParameter(index, reported);
            EXPECT_FLOAT_EQ(instance.getParameter(index), reported) << index << " at " << x;
        }
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
    EXPECT_EQ(engine().endNote.load(), 108);
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
