#include "analysis/PitchHistory.h"

namespace kelvatone::analysis {

PitchHistory::PitchHistory() {
    clearHistory();
}

void PitchHistory::clearHistory() {
    historyUpdates.beginWrite();
    for (auto& pitch : historyPitch)
        pitch.store(kNoPitch, std::memory_order_release);
    for (auto& notes : historyNotes)
        notes.store(HeldNoteSet{});
    historyIndex.store(0, std::memory_order_release);
    historyUpdates.endWrite();
}

void PitchHistory::storeHeldNotes(const HeldNoteSet& notes) {
    historyNotes[historyIndex.load(std::memory_order_relaxed)].store(notes);
}

void PitchHistory::recordResult(PitchCents pitch) {
    currentPitch.store(pitch, std::memory_order_release);
    const int32_t column = historyIndex.load(std::memory_order_relaxed);
    historyPitch[column].store(pitch, std::memory_order_release);
    historyIndex.store(column + 1 == kHistoryLength ? 0 : column + 1, std::memory_order_release);
    resultsRecorded.fetch_add(1, std::memory_order_release);
}

} // namespace kelvatone::analysis
