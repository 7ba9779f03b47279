// The settings of the analysis: the level gate, the frequency resolution (which sets the
// frame length), the analysis range (the notes the pitch may lie between; the estimator
// searches their frequencies), and the display's note range. Their limits and the
// working-out of the range are here, for the plug-in's parameters and the analysis tool
// alike.
//
// Threads: every field is written by the setters on any thread and read by the audio
// thread and the display (relaxed atomics, each written whole, never torn). The range's
// notes are one atomic record, changed by compare-and-swap: setters on two threads at once
// (automation on the audio thread, an edit on the UI thread) each work from the other's
// result, so begin + 12 <= end holds in every value a reader sees.
#pragma once

#include "analysis/Units.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::analysis {

// The resolutions the parameters offer (Hz of bin spacing): finest, middle, coarsest.
constexpr float kFinestResolution = 10.0f;
constexpr float kMiddleResolution = 15.0f;
constexpr float kCoarsestResolution = 30.0f;

// The analysis range: from C1 at the lowest to C9 at the highest, at least an octave wide.
constexpr NoteNumber kLowestBeginNote = 12;
constexpr NoteNumber kHighestEndNote = 108;
constexpr NoteNumber kSmallestRangeSpan = 12;

// A begin note kept within the range's limits below the given end: at most an octave below
// it and at least C1. Pure; any thread.
NoteNumber clampBeginNote(NoteNumber begin, NoteNumber end);
// An end note kept at least an octave above the given begin. Pure; any thread.
NoteNumber clampEndNote(NoteNumber end, NoteNumber begin);

// The analysis range's notes as one value. `requestedBegin` is the begin note last asked
// for: a begin clamped against the end in force (a host restoring begin before end) comes
// back as far as a later end allows. Notes lie in 0..127, so 16 bits hold each; the fourth
// field keeps the record free of padding, which compare-and-swap compares bytewise, and the
// alignment of a whole word lets every compiler do its atomic operations inline.
struct alignas(8) AnalysisRange {
    int16_t requestedBegin = 12;
    int16_t begin = 12;
    int16_t end = 96;
    int16_t unused = 0;
};
static_assert(sizeof(AnalysisRange) == 8 && std::atomic<AnalysisRange>::is_always_lock_free,
              "the range is read on the audio thread: one lock-free word");

// The range after the begin note is asked for: the begin clamped below the end. Pure.
AnalysisRange withBeginRequested(AnalysisRange range, NoteNumber begin);
// The range after the end note is asked for: the end kept an octave above the begin, and
// the begin moved up toward the one asked for as far as the new end allows. Pure.
AnalysisRange withEndRequested(AnalysisRange range, NoteNumber end);
// The range with both notes as given (already within the limits). Pure.
AnalysisRange rangeOf(NoteNumber begin, NoteNumber end);

struct AnalysisSettings {
    // The level gate: frames whose level is below it have no pitch.
    std::atomic<double> threshold{25.0};
    // The bin spacing in Hz; the frame length is the power of two above rate / resolution.
    std::atomic<float> resolution{kMiddleResolution};
    // The analysis range; read it whole (analysisRange) where begin and end go together.
    std::atomic<AnalysisRange> range{AnalysisRange{}};
    // Semitones the display shows from bottom to top.
    std::atomic<int32_t> displayRange{18};

    // any thread
    AnalysisRange analysisRange() const { return range.load(std::memory_order_relaxed); }
    NoteNumber beginNote() const { return analysisRange().begin; }
    NoteNumber endNote() const { return analysisRange().end; }

    // The parameters' setters: the note asked for, clamped against the other end of the
    // range as it stands (withBeginRequested, withEndRequested). any thread
    void requestBeginNote(NoteNumber note);
    void requestEndNote(NoteNumber note);
    // Both notes stored as given, already within the limits. any thread
    void setRange(NoteNumber begin, NoteNumber end);

private:
    template <typename Change> void changeRange(Change change);
};

} // namespace kelvatone::analysis
