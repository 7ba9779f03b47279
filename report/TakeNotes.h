// The notes that were meant in a take: a MIDI part read with io's Standard MIDI File
// reader, delivered frame by frame as the plug-in's intake would see it, and the figures of
// the take report (how each note was sung) gathered from the analysed frames.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "io/MidiFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvatone::report {

// Name of a MIDI note as the display's current-note label names it, without the blank:
// MIDI 60 (NoteNumber 48) is "C4", 61 is "C#4", 0 is "C-1".
std::string midiNoteName(int midiNote);

// The held notes' names in rising order, space-separated ("C4 E4"; empty when none).
std::string heldNoteNames(const analysis::HeldNoteSet& held);

// One note of the part: from its note-on to its note-off (a note never released lasts to the
// end of the take), with the figures of the analysed frames while it was held.
struct NoteSpan {
    int midiNote = 0;
    double startSeconds = 0.0;
    double endSeconds = 0.0;
    // Measured pitch minus the note, in cents, for every voiced frame of the span.
    std::vector<int32_t> deviations;
    long frames = 0;
    long withinTolerance = 0;
    // The index of the first analysed frame at which it was held (-1: none).
    long firstFrame = -1;
};

// Figures of a group of frames for the report: the shares exist only when there were
// frames, the median only when some of them were voiced.
struct SpanFigures {
    long frames = 0;
    bool haveShares = false;
    double voicedShare = 0.0;
    double withinShare = 0.0;
    bool haveMedian = false;
    double medianCents = 0.0;
    // The mean of the deviations' magnitudes, with the median.
    double meanAbsoluteCents = 0.0;
};

// Frames count as within the note while the pitch lies strictly inside this many cents of
// it, as the display lights a held note's bar.
constexpr int32_t kWithinCents = 50;

SpanFigures figuresOf(long frames, std::vector<int32_t> deviations, long withinTolerance);

// True when the part switches at least one note on.
bool hasNotes(const kelvatone::io::MidiFileContents& part);

class TakeNotes {
public:
    explicit TakeNotes(const kelvatone::io::MidiFileContents& part);

    // Delivers the events due at or before sample `sampleIndex` of a take at `sampleRate`
    // (an event is due at its time rounded to the nearest sample, as the host places it), as
    // the plug-in sees the events of a block before the block, and answers the held notes.
    // Sample indices must not decrease from call to call.
    const analysis::HeldNoteSet& heldAt(int64_t sampleIndex, double sampleRate);

    // Adds one analysed frame (its pitch, kNoPitch when none) to the figures of every note
    // held at it and of the whole take.
    void addFrame(analysis::PitchCents pitch);

    // After the last frame: the remaining events still open and close their notes, and
    // notes still held end at the end of the take.
    void finish(double takeSeconds);

    const std::vector<NoteSpan>& spans() const { return spans_; }
    // Figures of every frame at which some note was held; each voiced frame measured from
    // the nearest held note.
    SpanFigures takeFigures() const;
    // From the first note's start to the last note's end (0 and 0 without notes).
    double partStart() const;
    double partEnd() const;

private:
    void apply(const kelvatone::io::MidiNoteEvent& event);
    // addFrame's figures of the frame numbered frameCount_.
    void gatherFrame(analysis::PitchCents pitch);

    std::vector<kelvatone::io::MidiNoteEvent> events_;
    size_t nextEvent_ = 0;
    analysis::HeldNoteSet held_;
    std::vector<NoteSpan> spans_;
    // The span of each held MIDI note, -1 while it is not held.
    int openSpan_[128];
    // Frames added so far.
    long frameCount_ = 0;
    long takeFrames_ = 0;
    long takeWithin_ = 0;
    std::vector<int32_t> takeDeviations_;
};

} // namespace kelvatone::report
