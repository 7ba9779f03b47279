// The settings of the analysis: the level gate, the frequency resolution (which sets the
// frame length), the analysis range (the notes the pitch may lie between, and their
// frequencies, which the estimator searches), and the display's note range. Their limits
// and the working-out of the range are here, for the plug-in's parameters and the analysis
// tool alike.
//
// Threads: every field is written by the setters on any thread and read by the audio
// thread and the display (relaxed atomics, each written whole, never torn). The range's
// notes and frequencies are written one after the other, so a reader may see a new note
// with the old frequency for a moment; the estimator reads the frequencies only.
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

struct AnalysisSettings {
    // The level gate: frames whose level is below it have no pitch.
    std::atomic<double> threshold{25.0};
    // The bin spacing in Hz; the frame length is the power of two above rate / resolution.
    std::atomic<float> resolution{kMiddleResolution};
    std::atomic<NoteNumber> beginNote{12};
    std::atomic<NoteNumber> endNote{96};
    // noteFrequency of beginNote and endNote, written by setBeginNote and setEndNote.
    std::atomic<Hz> beginFrequency;
    std::atomic<Hz> endFrequency;
    // Semitones the display shows from bottom to top.
    std::atomic<int32_t> displayRange{18};

    AnalysisSettings();

    // The range's begin or end note and its frequency, stored as given. any thread
    void setBeginNote(NoteNumber note);
    void setEndNote(NoteNumber note);
};

} // namespace kelvatone::analysis
