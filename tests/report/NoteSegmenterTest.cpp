// The segmentation of a take's pitch track into sung notes, on synthetic tracks at the
// tool's frame rate (hop 1470 at 44.1 kHz, window 4096): what splits a note and what not.
#include "report/NoteSegmenter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace kelvatone::report;
using namespace kelvatone::analysis;

namespace {

constexpr double kRate = 44100.0;
constexpr TrackTiming kTiming{1469 / kRate, 1470 / kRate, 4096 / kRate};
constexpr double kPi = 3.14159265358979323846;
// A 5.5 Hz vibrato, sampled at the frame rate.
constexpr double kVibratoHz = 5.5;

struct Track {
    std::vector<PitchCents> pitches;

    // `frames` frames at `cents`, with a vibrato of +-depth cents.
    Track& hold(int frames, double cents, double depth = 0.0) {
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(pitches.size()) * kTiming.frameSeconds;
            pitches.push_back(static_cast<PitchCents>(
                std::lround(cents + depth * std::sin(2 * kPi * kVibratoHz * t))));
        }
        return *this;
    }
    // A straight glide over `frames` frames from one pitch to another (ends excluded).
    Track& glide(int frames, double from, double to) {
        for (int i = 1; i <= frames; ++i)
            pitches.push_back(
                static_cast<PitchCents>(std::lround(from + (to - from) * i / (frames + 1))));
        return *this;
    }
    Track& rest(int frames) {
        pitches.insert(pitches.end(), static_cast<size_t>(frames), kNoPitch);
        return *this;
    }
};

constexpr double kC4 = 4800, kE4 = 5200, kG4 = 5500;

struct Expected {
    int midiNote;
    long firstFrame;
    long frames;
};

void expectNotes(const std::vector<SungNote>& notes, const std::vector<Expected>& expected,
                 double frameTolerance = 0.0) {
    ASSERT_EQ(notes.size(), expected.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        EXPECT_EQ(notes[i].midiNote, expected[i].midiNote);
        EXPECT_NEAR(static_cast<double>(notes[i].firstFrame),
                    static_cast<double>(expected[i].firstFrame), frameTolerance);
        EXPECT_NEAR(static_cast<double>(notes[i].frames), static_cast<double>(expected[i].frames),
                    2 * frameTolerance);
    }
}

TEST(NoteSegmenter, VibratoAndAFlatNoteStayOneNote) {
    // +-45 cents of vibrato around a note sung 30 cents flat: half of it is beyond 50 cents.
    const std::vector<SungNote> notes =
        segmentNotes(Track().hold(60, kG4 - 30, 45).pitches, kTiming);
    expectNotes(notes, {{67, 0, 60}});
    EXPECT_NEAR(notes[0].medianDeviationCents, -30, 5);
}

TEST(NoteSegmenter, GlidesJoinTheNoteGlidedIntoAndScoopsDoNotSplit) {
    // C4, a 4-frame glide up to G4 (passing D4, E4, F4), G4 with vibrato; a 2-frame scoop
    // from a semitone below into E4.
    Track track;
    track.hold(40, kC4).glide(4, kC4, kG4).hold(40, kG4, 25).rest(5);
    track.hold(2, kE4 - 100).hold(40, kE4);
    expectNotes(segmentNotes(track.pitches, kTiming), {{60, 0, 40}, {67, 40, 44}, {64, 89, 42}});
}

TEST(NoteSegmenter, RestsSplitAndSingleDropoutsDoNot) {
    Track track;
    track.hold(20, kC4).rest(1).hold(20, kC4).rest(3).hold(20, kC4).rest(20).hold(20, kE4);
    const std::vector<SungNote> notes = segmentNotes(track.pitches, kTiming);
    expectNotes(notes, {{60, 0, 41}, {60, 44, 20}, {64, 84, 20}});
    // Frame k's newest sample less three quarters of the window.
    EXPECT_NEAR(
        notes[1].onsetSeconds,
        kTiming.firstFrameSeconds + 44 * kTiming.frameSeconds - 0.75 * kTiming.windowSeconds, 1e-9);
    EXPECT_NEAR(notes[1].offsetSeconds - notes[1].onsetSeconds, 20 * kTiming.frameSeconds, 1e-9);
}

TEST(NoteSegmenter, HeldJumpsSplitAndStrayFramesDoNot) {
    // An octave jump held, a held jump of 60 cents, and 1- and 2-frame octave errors.
    Track track;
    track.hold(30, kC4).hold(30, kC4 + 1200).hold(30, kC4 + 1260);
    track.hold(10, kE4).hold(1, kE4 + 1200).hold(10, kE4).hold(2, kE4 - 1200).hold(10, kE4);
    expectNotes(segmentNotes(track.pitches, kTiming),
                {{60, 0, 30}, {72, 30, 30}, {73, 60, 30}, {64, 90, 33}});
}

TEST(NoteSegmenter, OctaveFlipsAndStrayPiecesAtAChangeOfNoteMakeNoNotes) {
    // E4 flipping up an octave in runs of 3 to 5 frames, and B4 that the track names at B5
    // more often than not: each is one note, at the lower octave.
    Track track;
    track.hold(10, kE4).hold(4, kE4 + 1200).hold(8, kE4).hold(5, kE4 + 1200).hold(10, kE4);
    track.rest(5);
    for (int i = 0; i < 5; ++i)
        track.hold(4, kG4 + 400 + 1200).hold(2, kG4 + 400);
    // C4, then 5 frames two octaves below G4 before G4 (the estimator's subharmonic while
    // C4 gives way): the stray frames lead into G4 and do not count for its pitch.
    track.rest(5).hold(20, kC4).hold(5, kG4 - 2400).hold(20, kG4);
    const std::vector<SungNote> notes = segmentNotes(track.pitches, kTiming);
    expectNotes(notes, {{64, 0, 37}, {71, 42, 30}, {60, 77, 20}, {67, 97, 25}});
    EXPECT_NEAR(notes[3].medianDeviationCents, 0, 1);
}

TEST(NoteSegmenter, NoisyBlipsAndEmptyTracksGiveNoNotes) {
    EXPECT_TRUE(segmentNotes({}, kTiming).empty());
    EXPECT_TRUE(segmentNotes(Track().rest(10).hold(2, kC4).rest(10).pitches, kTiming).empty());
}

} // namespace
