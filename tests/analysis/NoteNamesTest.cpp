// Note labels of the parameters and the display, and the tool's label parser.
#include "analysis/NoteNames.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelvatone::analysis;

namespace {

std::string parameterLabel(NoteNumber n, int32_t offset) {
    char text[8];
    const int length = noteLabel(n, offset, text);
    EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
    return text;
}

std::string displayLabel(PitchCents cents, int32_t offset) {
    char text[8];
    const int length = pitchNoteLabel(cents, offset, text);
    EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
    return text;
}

TEST(NoteLabel, NaturalLetterAndOctave) {
    EXPECT_EQ(parameterLabel(12, 0), "C1");
    EXPECT_EQ(parameterLabel(29, 0), "F2");
    EXPECT_EQ(parameterLabel(57, 0), "A4");
    EXPECT_EQ(parameterLabel(58, 0), "A4");
    EXPECT_EQ(parameterLabel(60, 0), "C5");
    EXPECT_EQ(parameterLabel(63, 0), "D5");
    EXPECT_EQ(parameterLabel(96, 0), "C8");
    EXPECT_EQ(parameterLabel(108, 0), "C9");
    EXPECT_EQ(parameterLabel(71, 0), "B5");
}

TEST(NoteLabel, OctaveOffsetLowersTheOctaveAndMinusOneHasNoSlash) {
    EXPECT_EQ(parameterLabel(12, -1), "C0");
    EXPECT_EQ(parameterLabel(57, -1), "A3");
    EXPECT_EQ(parameterLabel(5, -1), "F-1");
    EXPECT_EQ(parameterLabel(120, 0), "C10");
    EXPECT_EQ(parameterLabel(-12, 0), "C-1");
}

TEST(PitchNoteLabel, NearestNoteWithinFiftyCents) {
    EXPECT_EQ(displayLabel(5700, 0), "A 4");
    EXPECT_EQ(displayLabel(5749, 0), "A 4");
    EXPECT_EQ(displayLabel(5750, 0), "A#4");
    EXPECT_EQ(displayLabel(5650, 0), "A 4");
    EXPECT_EQ(displayLabel(5649, 0), "G#4");
    EXPECT_EQ(displayLabel(4900, 0), "C#4");
    EXPECT_EQ(displayLabel(5950, 0), "C 5") << "B4 plus 50 cents rounds up into the next octave";
    EXPECT_EQ(displayLabel(0, 0), "C 0");
    EXPECT_EQ(displayLabel(5700, -1), "A 3");
    EXPECT_EQ(displayLabel(1200, -1), "C 0");
    EXPECT_EQ(displayLabel(0, -1), "C -1");
    EXPECT_EQ(displayLabel(100, -1), "C#-1");
}

TEST(PitchNoteLabel, AnyValueStaysInsideTheBuffer) {
    for (PitchCents cents : {-1, -51, -1000000, INT32_MIN, INT32_MAX}) {
        char text[8];
        const int length = pitchNoteLabel(cents, -1, text);
        EXPECT_LT(length, 8) << cents;
        EXPECT_EQ(length, static_cast<int>(std::string(text).size())) << cents;
    }
    char text[8];
    EXPECT_LT(noteLabel(INT32_MAX, 0, text), 8);
    EXPECT_LT(noteLabel(INT32_MIN, -1, text), 8);
}

TEST(ParseNoteLabel, NaturalAndSharpLabels) {
    NoteNumber n = -1;
    EXPECT_TRUE(parseNoteLabel("C1", n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(parseNoteLabel("A4", n));
    EXPECT_EQ(n, 57);
    EXPECT_TRUE(parseNoteLabel("C9", n));
    EXPECT_EQ(n, 108);
    EXPECT_TRUE(parseNoteLabel("F#3", n));
    EXPECT_EQ(n, 42);
    EXPECT_TRUE(parseNoteLabel("B0", n));
    EXPECT_EQ(n, 11);
    for (const char* bad : {"", "H1", "c1", "C", "C10", "E#4", "B#2", "C#", "4", "C1x", "Cb1"})
        EXPECT_FALSE(parseNoteLabel(bad, n)) << bad;
}

TEST(ParseNoteLabel, EveryParameterLabelReadsBackAsItsNaturalNote) {
    for (NoteNumber note = 12; note <= 108; ++note) {
        char text[8];
        noteLabel(note, 0, text);
        NoteNumber parsed = -1;
        ASSERT_TRUE(parseNoteLabel(text, parsed)) << text;
        // Sharps are dropped from parameter labels, so C#4 reads back as C4.
        EXPECT_EQ(parsed, note - (note % 12 == 1 || note % 12 == 3 || note % 12 == 6 ||
                                          note % 12 == 8 || note % 12 == 10
                                      ? 1
                                      : 0))
            << text;
    }
}

} // namespace
