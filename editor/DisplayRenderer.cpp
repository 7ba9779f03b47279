#include "editor/DisplayRenderer.h"

#include "analysis/NoteNames.h"
#include "analysis/ThreadRole.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace kelvatone::analysis;

namespace kelvatone::editor {
namespace {

constexpr COLORREF kCRowColour = 0x00C0C0C0;
constexpr COLORREF kNaturalRowColour = 0x00808080;
constexpr COLORREF kMatchColour = 0x00FF8010;
constexpr COLORREF kMismatchColour = 0x00FF1010;
constexpr COLORREF kTraceColour = 0x0000FFFF;
constexpr COLORREF kLabelColour = 0x00FFFFFF;
constexpr COLORREF kHoldOnColour = 0x00FFFFFF;
constexpr COLORREF kHoldOffColour = 0x00808080;

constexpr int kHeldNotePenWidth = 5;
constexpr LONG kGridLabelHeight = -8;
constexpr LONG kNoteLabelHeight = -20;
constexpr LONG kHoldLabelHeight = -14;

constexpr int kRuleX = 19;
constexpr int kCRowLineStartX = 17;
constexpr int kRowLineStartX = 19;
constexpr int kGridLabelRise = 6;
constexpr int kNoteLabelX = 300;
constexpr int kNoteLabelY = 2;
constexpr int kHoldLabelX = 592;
constexpr int kHoldLabelY = 8;
const char kHoldLabel[] = "Hold";

constexpr int32_t kSemitonesPerOctave = 12;
// The first picture is centred on C4.
constexpr int32_t kInitialViewCentre = 4800;
// The view keeps the pitch this far inside its bottom and top edges.
constexpr int32_t kScrollMargin = 100;
// Growth of the scroll distance on each frame whose pitch lies outside the margins.
constexpr int32_t kScrollAcceleration = 10;
// Neighbouring trace points further apart than this are not joined.
constexpr int32_t kTraceJoinLimit = 500;
// A held note counts as matched while the pitch lies strictly within this distance.
constexpr int32_t kMatchTolerance = 50;
// The oldest history columns that the picture leaves out.
constexpr int kHiddenColumns = kHistoryLength - kShownColumns;
static_assert(kHiddenColumns >= 0, "the picture shows at most the whole history");

// The semitones above C that get a grid row: the natural notes.
const bool kNaturalNote[kSemitonesPerOctave] = {true,  false, true,  false, true,  true,
                                                false, true,  false, true,  false, true};
// Room for any label of NoteNames.
constexpr int kLabelCapacity = 8;

// The display range that the parameter gives, 12 to 48 semitones. A value outside it
// (only from a host that sends parameter values outside 0..1) is drawn as the nearest
// end, which keeps the row loops short and the scale finite.
constexpr int32_t kMinShownRange = 12;
constexpr int32_t kMaxShownRange = 48;

int32_t shownRange(int32_t displayRange) {
    return std::min(std::max(displayRange, kMinShownRange), kMaxShownRange);
}

// Semitone above C of a row pitch, also for pitches below C0.
int semitoneOf(int32_t pitch) {
    const int32_t semitone = (pitch / kCentsPerSemitone) % kSemitonesPerOctave;
    return semitone < 0 ? semitone + kSemitonesPerOctave : semitone;
}

// The notes held in any of the sets.
HeldNoteSet unionOf(const HeldNoteSet* sets, int count) {
    HeldNoteSet all;
    for (int i = 0; i < count; ++i)
        for (int w = 0; w < 4; ++w)
            all.words[w] |= sets[i].words[w];
    return all;
}

// The row of a pitch in a picture whose bottom edge is viewBase.
int rowOf(int32_t pitch, int32_t viewBase, double scale) {
    const int32_t above = pitch - viewBase;
    return kHeight - static_cast<int>(static_cast<double>(above) * scale);
}

// The first grid row at or below the bottom edge, and the pitch the rows stay below.
int32_t gridStartOf(int32_t viewBase) {
    return viewBase / kCentsPerSemitone * kCentsPerSemitone;
}
double gridEndOf(int32_t gridStart, double span) {
    return (span + gridStart) + kCentsPerSemitone;
}

} // namespace

void copyShownHistory(const PitchHistory& engine, Snapshot& snapshot) {
    const int32_t next = engine.historyIndex.load(std::memory_order_acquire);
    int column = (next + kHiddenColumns) % kHistoryLength;
    for (int i = 0; i < kShownColumns; ++i, column = column + 1 < kHistoryLength ? column + 1 : 0) {
        snapshot.pitch[i] = engine.historyPitch[column].load(std::memory_order_acquire);
        snapshot.notes[i] = engine.historyNotes[column].load();
    }
    snapshot.result = engine.currentPitch.load(std::memory_order_acquire);
}

View initialView(int32_t displayRange) {
    return {kInitialViewCentre - displayRange * kCentsPerSemitone / 2, 0};
}

View scrolledView(View view, PitchCents result, double span) {
    if (result < 0)
        return view;
    if (result < view.base + kScrollMargin)
        return {view.base - view.step, view.step + kScrollAcceleration};
    if (result > (span + view.base) - kScrollMargin)
        return {view.base + view.step, view.step + kScrollAcceleration};
    return {view.base, 0};
}

double pictureScale(int32_t displayRange) {
    return kHeight / (shownRange(displayRange) * static_cast<double>(kCentsPerSemitone));
}

double pictureSpan(int32_t displayRange) {
    return kHeight / pictureScale(displayRange);
}

Renderer::Renderer() {
    LOGFONTA font;
    std::memset(&font, 0, sizeof font);
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof font, &font);
    font.lfHeight = kGridLabelHeight;
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    gridLabelFont = CreateFontIndirectA(&font);
    font.lfHeight = kNoteLabelHeight;
    font.lfWeight = FW_BOLD;
    noteLabelFont = CreateFontIndirectA(&font);
    font.lfHeight = kHoldLabelHeight;
    holdLabelFont = CreateFontIndirectA(&font);

    matchPen = CreatePen(PS_SOLID, kHeldNotePenWidth, kMatchColour);
    mismatchPen = CreatePen(PS_SOLID, kHeldNotePenWidth, kMismatchColour);
}

Renderer::~Renderer() {
    DeleteObject(gridLabelFont);
    DeleteObject(noteLabelFont);
    DeleteObject(holdLabelFont);
    DeleteObject(matchPen);
    DeleteObject(mismatchPen);
}

void Renderer::draw(HDC dc, const Snapshot& snapshot) const {
    threadrole::assertNotAudioThread("drawing the display");
    PatBlt(dc, 0, 0, kWidth, kHeight, BLACKNESS);
    const double scale = pictureScale(snapshot.displayRange);
    const double span = kHeight / scale;

    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCPenColor(dc, kCRowColour);
    MoveToEx(dc, kRuleX, 0, nullptr);
    LineTo(dc, kRuleX, kHeight);

    SelectObject(dc, gridLabelFont);
    SetBkMode(dc, TRANSPARENT);
    drawGrid(dc, snapshot, scale, span);
    drawHeldNotes(dc, snapshot, scale, span);
    drawTrace(dc, snapshot, scale);
    drawCurrentNote(dc, snapshot);
    drawHoldLabel(dc, snapshot);
}

void Renderer::drawGrid(HDC dc, const Snapshot& snapshot, double scale, double span) const {
    const int32_t gridStart = gridStartOf(snapshot.viewBase);
    const double gridEnd = gridEndOf(gridStart, span);
    for (int32_t pitch = gridStart; pitch < gridEnd; pitch += kCentsPerSemitone) {
        const int semitone = semitoneOf(pitch);
        if (!kNaturalNote[semitone])
            continue;
        const bool cRow = semitone == 0;
        const COLORREF colour = cRow ? kCRowColour : kNaturalRowColour;
        SetDCPenColor(dc, colour);
        SetTextColor(dc, colour);
        const int y = rowOf(pitch, snapshot.viewBase, scale);
        MoveToEx(dc, cRow ? kCRowLineStartX : kRowLineStartX, y, nullptr);
        LineTo(dc, kWidth, y);

        char label[kLabelCapacity];
        const int length = noteLabel(pitch / kCentsPerSemitone, snapshot.octaveOffset, label);
        TextOutA(dc, 0, y - kGridLabelRise, label, length);
    }
}

void Renderer::drawHeldNotes(HDC dc, const Snapshot& snapshot, double scale, double span) const {
    SetROP2(dc, R2_MERGEPEN);
    const int32_t gridStart = gridStartOf(snapshot.viewBase);
    const double gridEnd = gridEndOf(gridStart, span);
    // A row whose note no shown column holds draws nothing: skip its columns.
    const HeldNoteSet heldAnywhere = unionOf(snapshot.notes, kShownColumns);
    // Selecting the pen that is already selected changes nothing: only switches are made.
    HPEN selectedPen = nullptr;
    for (int32_t pitch = gridStart; pitch < gridEnd; pitch += kCentsPerSemitone) {
        const int32_t midiNote = pitch / kCentsPerSemitone + kMidiNoteOfC0;
        if (!heldAnywhere.contains(midiNote))
            continue;
        const int y = rowOf(pitch, snapshot.viewBase, scale);
        bool previousHeld = false;
        for (int i = 0; i < kShownColumns; ++i) {
            const bool held = snapshot.notes[i].contains(midiNote);
            const int x = kFirstColumnX + kColumnPitch * i;
            if (held && previousHeld) {
                const PitchCents pitchThere = snapshot.pitch[i];
                const bool matched = pitchThere != kNoPitch &&
                                     pitchThere > pitch - kMatchTolerance &&
                                     pitchThere < pitch + kMatchTolerance;
                HPEN pen = matched ? matchPen : mismatchPen;
                if (pen != selectedPen) {
                    SelectObject(dc, pen);
                    selectedPen = pen;
                }
                LineTo(dc, x, y);
            } else if (held) {
                MoveToEx(dc, x, y, nullptr);
            }
            previousHeld = held;
        }
    }
}

void Renderer::drawTrace(HDC dc, const Snapshot& snapshot, double scale) const {
    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCPenColor(dc, kTraceColour);
    PitchCents previous = kNoPitch;
    for (int i = 0; i < kShownColumns; ++i) {
        const PitchCents pitch = snapshot.pitch[i];
        if (pitch >= 0) {
            const int x = kFirstColumnX + kColumnPitch * i;
            const int y = rowOf(pitch, snapshot.viewBase, scale);
            if (previous < 0 || std::abs(pitch - previous) > kTraceJoinLimit)
                MoveToEx(dc, x, y, nullptr);
            else
                LineTo(dc, x, y);
        }
        previous = pitch;
    }
}

void Renderer::drawCurrentNote(HDC dc, const Snapshot& snapshot) const {
    if (snapshot.result < 0)
        return;
    SelectObject(dc, noteLabelFont);
    SetTextColor(dc, kLabelColour);
    char label[kLabelCapacity];
    const int length = pitchNoteLabel(snapshot.result, snapshot.octaveOffset, label);
    TextOutA(dc, kNoteLabelX, kNoteLabelY, label, length);
}

void Renderer::drawHoldLabel(HDC dc, const Snapshot& snapshot) const {
    SetTextColor(dc, snapshot.hold ? kHoldOnColour : kHoldOffColour);
    SelectObject(dc, holdLabelFont);
    TextOutA(dc, kHoldLabelX, kHoldLabelY, kHoldLabel, static_cast<int>(sizeof kHoldLabel - 1));
}

} // namespace kelvatone::editor
