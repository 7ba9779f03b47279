// The display's picture as a function of one snapshot of what it shows: the pitch trace
// over the natural-note grid, the held-note bars, the current note's name and the "Hold"
// label, drawn into a 640 x 360 device context. No window and no effect stand behind
// it: the editor, the take picture of the analysis tool and the benchmarks all draw
// through it.
//
// Units: pitches in cents above C0 (kNoPitch or any negative value: no pitch); the display
// range in semitones; pixels with the origin at the top-left corner.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"
#include "editor/platform/Win32.h"

#include <cstdint>

namespace kelvatone::editor {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
// Screen columns of the history, from x = kFirstColumnX, kColumnPitch apart; the oldest
// kHistoryLength - kShownColumns columns of the history are never shown.
constexpr int kShownColumns = 310;
constexpr int kFirstColumnX = 20;
constexpr int kColumnPitch = 2;

// Everything one picture shows, copied at one moment.
struct Snapshot {
    // The shown history columns, oldest first: entry i is drawn at x = 20 + 2i.
    analysis::PitchCents pitch[kShownColumns] = {};
    analysis::HeldNoteSet notes[kShownColumns] = {};
    // The latest frame's pitch, named at the top.
    analysis::PitchCents result = analysis::kNoPitch;
    // The pitch at the bottom edge (cents).
    int32_t viewBase = 0;
    // Semitones the picture's height spans; values outside 12..48 are drawn as the
    // nearest end.
    int32_t displayRange = 18;
    // Added to every octave digit (0, or -1 when 440 Hz is named A3).
    int32_t octaveOffset = 0;
    bool hold = false;
};

// Copies the shown columns of an engine's history and its latest result into a snapshot,
// with acquire loads. The caller reads inside the history's historyUpdates, or is its only
// writer, between writes (SequenceLock::assertNoWriteOpen). any thread
void copyShownHistory(const analysis::PitchHistory& engine, Snapshot& snapshot)
    REQUIRES_SHARED(engine.historyUpdates);

// Where the view stands: the pitch at the bottom edge and the distance of its next move.
struct View {
    int32_t base = 0;
    int32_t step = 0;
};

// The first view of a display: centred on C4 at the given display range.
View initialView(int32_t displayRange);

// The scroll step after a frame with this result: while the result lies within 100 cents of
// an edge the view moves toward it by `step` cents and the step grows by 10; inside the
// margins the step falls back to 0; a result without pitch leaves the view as it is.
// span is the picture's height in cents (pictureSpan). any thread
View scrolledView(View view, analysis::PitchCents result, double span);

// Pixels per cent, and the picture's height in cents, at a display range. any thread
double pictureScale(int32_t displayRange);
double pictureSpan(int32_t displayRange);

// The drawing resources of the display (three fonts, two pens), created once, and the
// drawing itself.
class Renderer {
public:
    // Creates the fonts and pens. Thread that creates the editor.
    Renderer();
    // Frees them. Nothing may draw with this renderer any more.
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Draws the whole picture of the snapshot into dc (640 x 360). Never the audio thread;
    // one thread at a time per dc.
    void draw(HDC dc, const Snapshot& snapshot) const EXCLUDES(analysis::threadrole::audioThread);

private:
    void drawGrid(HDC dc, const Snapshot& snapshot, double scale, double span) const;
    void drawHeldNotes(HDC dc, const Snapshot& snapshot, double scale, double span) const;
    void drawTrace(HDC dc, const Snapshot& snapshot, double scale) const;
    void drawCurrentNote(HDC dc, const Snapshot& snapshot) const;
    void drawHoldLabel(HDC dc, const Snapshot& snapshot) const;

    HFONT gridLabelFont = nullptr;
    HFONT noteLabelFont = nullptr;
    HFONT holdLabelFont = nullptr;
    HPEN matchPen = nullptr;
    HPEN mismatchPen = nullptr;
};

} // namespace kelvatone::editor
