// Segmented notes checked against synthetic takes (harmonic tones at 44.1 kHz): onsets
// moved to where a note's pitch rose, and notes named by the fundamental that sounds.
#include "tools/analyse/NoteAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace kelvatone::analyse;

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;
// A harmonic tone's amplitude by harmonic (1 = fundamental).
using Harmonics = std::vector<double>;
const Harmonics kReed = {1.0, 0.1, 2.7, 0.2, 0.7}; // a clarinet's: the third above the first
const Harmonics kVowel = {0.15, 1.0, 0.5, 0.3};    // a sung vowel's: a weak fundamental

double hertzOf(int midiNote) {
    return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
}

// Adds a tone from `start` to `end` seconds whose amplitude rises linearly over `attack`
// and falls linearly over `release` after `end`.
void addTone(std::vector<float>& take, double hertz, const Harmonics& harmonics, double start,
             double end, double attack, double release) {
    for (size_t i = 0; i < take.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        if (t < start || t > end + release)
            continue;
        const double envelope =
            std::min({1.0, (t - start) / attack, t <= end ? 1.0 : 1.0 - (t - end) / release});
        double value = 0.0;
        for (size_t h = 0; h < harmonics.size(); ++h)
            value += harmonics[h] * std::sin(2 * kPi * hertz * static_cast<double>(h + 1) * t);
        take[i] += static_cast<float>(0.1 * envelope * value);
    }
}

SungNote noteAt(int midiNote, double onset, double offset, long firstFrame, long frames) {
    SungNote note;
    note.midiNote = midiNote;
    note.onsetSeconds = onset;
    note.offsetSeconds = offset;
    note.firstFrame = firstFrame;
    note.frames = frames;
    return note;
}

TEST(NoteAudio, OnsetsMoveToWhereTheNotesPitchRose) {
    // A3 until 0.6 s, ringing on for 0.15 s; E4 from 0.6 s with a 60 ms attack. The track
    // places E4 70 ms late; a note at a pitch that sounds throughout keeps its onset.
    std::vector<float> take(static_cast<size_t>(1.5 * kRate));
    addTone(take, hertzOf(57), kVowel, 0.1, 0.6, 0.01, 0.15);
    addTone(take, hertzOf(64), kVowel, 0.6, 1.2, 0.06, 0.05);
    std::vector<SungNote> notes = {noteAt(57, 0.11, 0.7, 0, 18), noteAt(64, 0.67, 1.2, 18, 16)};
    refineOnsets(notes, take, kRate);
    EXPECT_NEAR(notes[0].onsetSeconds, 0.1, 0.015);
    EXPECT_NEAR(notes[1].onsetSeconds, 0.6, 0.015);
    EXPECT_LE(notes[0].offsetSeconds, notes[1].onsetSeconds);

    std::vector<float> held(static_cast<size_t>(1.5 * kRate));
    addTone(held, hertzOf(64), kVowel, 0.0, 1.5, 0.01, 0.01);
    std::vector<SungNote> late = {noteAt(64, 0.67, 1.2, 20, 16)};
    refineOnsets(late, held, kRate);
    EXPECT_DOUBLE_EQ(late[0].onsetSeconds, 0.67);
}

TEST(NoteAudio, NotesAreNamedByTheFundamentalThatSounds) {
    // B4 on a reed, which the track named at its twelfth (F#6); A3 sung with a weak
    // fundamental, named right; and D4 sung, whose first half the track named an octave low.
    std::vector<float> take(static_cast<size_t>(3.0 * kRate));
    addTone(take, hertzOf(71), kReed, 0.1, 0.9, 0.01, 0.05);
    addTone(take, hertzOf(57), kVowel, 1.0, 1.9, 0.01, 0.05);
    addTone(take, hertzOf(62), kVowel, 2.0, 2.9, 0.01, 0.05);
    std::vector<SungNote> notes = {noteAt(90, 0.1, 0.9, 0, 24), noteAt(57, 1.0, 1.9, 27, 27),
                                   noteAt(50, 2.0, 2.45, 57, 14), noteAt(62, 2.45, 2.9, 71, 13)};
    notes[0].medianDeviationCents = 2.0;
    nameFundamentals(notes, take, kRate);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].midiNote, 71);
    EXPECT_NEAR(notes[0].medianDeviationCents, 0.0, 0.5);
    EXPECT_EQ(notes[1].midiNote, 57);
    EXPECT_EQ(notes[2].midiNote, 62);
    EXPECT_DOUBLE_EQ(notes[2].onsetSeconds, 2.0);
    EXPECT_DOUBLE_EQ(notes[2].offsetSeconds, 2.9);
    EXPECT_EQ(notes[2].frames, 27);
}

} // namespace
