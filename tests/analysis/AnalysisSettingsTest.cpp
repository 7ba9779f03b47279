// The analysis settings: the range's clamping, the begin note that waits for the end, and the
// search frequencies of the range's notes.
#include "analysis/AnalysisSettings.h"
#include "analysis/AnalysisEngine.h"

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

// The search range's frequencies come from one reading of the range's notes.
TEST(AnalysisSettings, RangeNotesGiveTheSearchFrequencies) {
    AnalysisEngine engine;
    EXPECT_EQ(engine.beginNote(), 12);
    EXPECT_DOUBLE_EQ(engine.searchRange().begin, noteFrequency(12));
    EXPECT_DOUBLE_EQ(engine.searchRange().end, noteFrequency(96));
    engine.setRange(45, 69);
    EXPECT_EQ(engine.beginNote(), 45);
    EXPECT_EQ(engine.endNote(), 69);
    EXPECT_DOUBLE_EQ(engine.searchRange().begin, 220.0);
    EXPECT_DOUBLE_EQ(engine.searchRange().end, 880.0);
}

// A begin asked for above what the end allows is remembered, and granted as far as a
// later end allows; an end never comes within an octave of the begin.
TEST(AnalysisSettings, ARequestedBeginWaitsForTheEnd) {
    AnalysisRange range = withBeginRequested(rangeOf(12, 96), 90);
    EXPECT_EQ(range.begin, 84);
    range = withEndRequested(range, 100);
    EXPECT_EQ(range.begin, 88);
    range = withEndRequested(range, 108);
    EXPECT_EQ(range.begin, 90);
    EXPECT_EQ(range.end, 108);
    range = withEndRequested(range, 30);
    EXPECT_EQ(range.end, 102) << "the end stays an octave above the begin in force";
    range = withBeginRequested(range, 3);
    EXPECT_EQ(range.begin, 12) << "C1 at the lowest";
}

} // namespace
