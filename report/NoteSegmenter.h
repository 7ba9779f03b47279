// The notes sung in a take, segmented from its pitch track alone (no MIDI part): a rest,
// or a move of more than half a semitone away from the note that lasts a few frames,
// starts a new note; vibrato, a single stray frame and a glide into a note do not.
//
// Units: pitches in cents above C0 (kNoPitch: no pitch), times in seconds from the start
// of the take, MIDI notes 0..127 (60 = C4). Pure functions; any thread.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "io/MidiFile.h"

#include <vector>

namespace kelvatone::report {

// When the frames of a pitch track lie in the take: frame k's newest sample is at
// firstFrameSeconds + k * frameSeconds, and its pitch was measured over the windowSeconds
// before it.
struct TrackTiming {
    double firstFrameSeconds = 0.0;
    double frameSeconds = 0.0;
    double windowSeconds = 0.0;
};

struct SungNote {
    // Three quarters of a window before the newest sample of the note's first frame, to as
    // much before that of the frame after its last: where the note began and ended, given
    // that the estimator names a pitch once it fills most of the window.
    double onsetSeconds = 0.0;
    double offsetSeconds = 0.0;
    int midiNote = 0;
    // The note's median pitch minus the tempered note, -50 .. +50 cents.
    double medianDeviationCents = 0.0;
    // The frames the note covers: firstFrame .. firstFrame + frames - 1.
    long firstFrame = 0;
    long frames = 0;
};

// The note's pitch in cents above C0: its MIDI note's tempered pitch plus its deviation.
double pitchCentsOf(const SungNote& note);

// Names the note for a pitch in cents above C0: the nearest MIDI note (0..127) and the
// pitch's deviation from it.
void namePitch(SungNote& note, double centsAboveC0);

// The notes of a pitch track (one pitch per frame), in time order, never overlapping.
std::vector<SungNote> segmentNotes(const std::vector<analysis::PitchCents>& pitches,
                                   const TrackTiming& timing);

// The notes as the events of a MIDI part (note-on at the onset, note-off at the offset, in
// time order), for measuring the take against what was sung and for writing them as MIDI.
kelvatone::io::MidiFileContents partOf(const std::vector<SungNote>& notes);

} // namespace kelvatone::report
