// The analysis settings: the range's clamping and the frequencies stored with its notes.
#include "analysis/AnalysisSettings.h"

#include <gtest/gtest.h>

using namespace kelvatone::analysis;

namespace {

TEST(AnalysisRange, BeginStaysBetweenC1AndAnOctaveBelowTheEnd) {
    EXPECT_EQ(clampBeginNote(40, 96), 40);
    EXPECT_EQ(clampBeginNote(90, 96), 84);
    EXPECT_EQ(clampBeginNote(5, 96), kLowestBeginNote);
    EXPECT_EQ(clampBeginNote(-100, 20), kLowestBeginNote) << "C1 wins over the octave";
}

TEST(AnalysisRange, EndStaysAnOctaveAboveTheBegin) {
    EXPECT_EQ(clampEndNote(96, 12), 96);
    EXPECT_EQ(clampEndNote(50, 48), 60);
    EXPECT_EQ(clampEndNote(kHighestEndNote, 100), 112) << "the octave wins over C9";
}

TEST(AnalysisSettings, RangeNotesCarryTheirFrequencies) {
    AnalysisSettings settings;
    EXPECT_EQ(settings.beginNote.load(), 12);
    EXPECT_DOUBLE_EQ(settings.beginFrequency.load(), noteFrequency(12));
    EXPECT_DOUBLE_EQ(settings.endFrequency.load(), noteFrequency(96));
    settings.setBeginNote(45);
    settings.setEndNote(69);
    EXPECT_EQ(settings.beginNote.load(), 45);
    EXPECT_DOUBLE_EQ(settings.beginFrequency.load(), 220.0);
    EXPECT_EQ(settings.endNote.load(), 69);
    EXPECT_DOUBLE_EQ(settings.endFrequency.load(), 880.0);
}

} // namespace
