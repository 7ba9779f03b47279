#include "web/LiveDisplay.h"

#include "analysis/NoteNames.h"
#include "editor/KelvatoneGui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::vst;

namespace kelvatone::web {

namespace {

// "A 4" or "C#4" as the display names it, without the padding space: "A4", "C#4".
void dropPadding(char* label) {
    char* space = std::strchr(label, ' ');
    if (space)
        std::memmove(space, space + 1, std::strlen(space + 1) + 1);
}

} // namespace

LiveDisplay::LiveDisplay() : effect(noHost) {}

DisplayModel& LiveDisplay::model() {
    return effect.display()->model();
}

void LiveDisplay::addColumn(const Column& column) {
    model().publishFrame(column.pitch, notesOf(column));
}

void LiveDisplay::setShownColumn(int i, const Column& column) {
    if (i < 0 || i >= kShownColumns)
        return;
    const int next = effect.engine.historyIndex.load();
    const int slot = (next + kHistoryLength - kShownColumns + i) % kHistoryLength;
    effect.engine.historyPitch[slot].store(column.pitch);
    effect.engine.historyNotes[slot].store(notesOf(column));
    model().pictureChanged();
}

void LiveDisplay::setLatestResult(PitchCents result) {
    effect.engine.currentPitch.store(result);
    model().pictureChanged();
}

bool LiveDisplay::draw() {
    const uint32_t changes = model().changes();
    const int32_t octaveOffset = octaveLabelOffset.load(std::memory_order_acquire);
    if (drawnOnce && changes == drawnChanges && octaveOffset == drawnOctaveOffset)
        return false;
    surface.draw(renderer, model().takeSnapshot(), pixels);
    // 0x00RRGGBB to the canvas's bytes R, G, B, A (opaque) in memory order; WebAssembly
    // stores words little-endian.
    for (uint32_t& pixel : pixels)
        pixel = 0xFF000000u | ((pixel & 0xFFu) << 16) | (pixel & 0xFF00u) | ((pixel >> 16) & 0xFFu);
    drawnChanges = changes;
    drawnOctaveOffset = octaveOffset;
    drawnOnce = true;
    return true;
}

bool LiveDisplay::click(int x, int y) {
    if (x >= KelvatoneGui::kHoldAreaLeft && x <= KelvatoneGui::kHoldAreaRight &&
        y >= KelvatoneGui::kHoldAreaTop && y <= KelvatoneGui::kHoldAreaBottom)
        model().toggleHold(true);
    return held();
}

bool LiveDisplay::held() const {
    return effect.display()->hold.load(std::memory_order_relaxed);
}

const char* LiveDisplay::readout() {
    const PitchCents pitch = effect.engine.currentPitch.load(std::memory_order_relaxed);
    if (pitch < 0)
        return "\u2014";
    char label[8];
    pitchNoteLabel(pitch, octaveLabelOffset.load(std::memory_order_relaxed), label);
    dropPadding(label);
    const int deviation =
        pitch - (pitch + kCentsPerSemitone / 2) / kCentsPerSemitone * kCentsPerSemitone;
    // U+2212 MINUS SIGN below zero, a plus sign above.
    const char* sign = deviation < 0 ? "\u2212" : deviation > 0 ? "+" : "";
    std::snprintf(text, sizeof text, "%s %s%d c", label, sign, std::abs(deviation));
    return text;
}

const char* LiveDisplay::parameterName(int32_t index) {
    const char* name = plugin::parameterFullName(index);
    return name != nullptr ? name : "";
}

const char* LiveDisplay::parameterText(int32_t index) {
    text[0] = '\0';
    effect.getParameterDisplay(index, text);
    return text;
}

} // namespace kelvatone::web
