#include "editor/DisplayModel.h"

#include "analysis/NoteNames.h"

using namespace kelvatone::analysis;

namespace kelvatone::editor {

DisplayModel::DisplayModel(AnalysisEngine& shown) : engine(shown) {
    view.store(packView(initialView(engine.displayRange.load())), std::memory_order_relaxed);
}

void DisplayModel::publishFrame(PitchCents result, const HeldNoteSet& notes) {
    engine.historyUpdates.beginWrite();
    engine.append(result, notes);
    frameAnalysed(result);
    engine.historyUpdates.endWrite();
}

void DisplayModel::frameAnalysed(PitchCents result) {
    scrollView(result);
    pictureChanged();
}

void DisplayModel::pictureChanged() {
    pictureChanges.fetch_add(1, std::memory_order_release);
}

void DisplayModel::scrollView(PitchCents result) {
    const double span = pictureSpan(engine.displayRange.load(std::memory_order_relaxed));
    uint64_t current = view.load(std::memory_order_relaxed);
    // Released: the audio thread scrolls inside the history's sequence lock.
    while (!view.compare_exchange_weak(current,
                                       packView(scrolledView(viewOf(current), result, span)),
                                       std::memory_order_release, std::memory_order_relaxed)) {
    }
}

void DisplayModel::toggleHold(bool scroll) {
    hold.store(!hold.load(std::memory_order_relaxed), std::memory_order_relaxed);
    if (scroll)
        scrollView(engine.currentPitch.load(std::memory_order_relaxed));
    pictureChanged();
}

Snapshot DisplayModel::takeSnapshot() const {
    Snapshot snapshot;
    for (;;) {
        const uint32_t ticket = engine.historyUpdates.beginRead();
        copyShownHistory(engine, snapshot);
        snapshot.viewBase = viewOf(view.load(std::memory_order_acquire)).base;
        if (engine.historyUpdates.endRead(ticket))
            break;
    }
    snapshot.displayRange = engine.displayRange.load(std::memory_order_relaxed);
    snapshot.octaveOffset = octaveLabelOffset.load(std::memory_order_relaxed);
    snapshot.hold = hold.load(std::memory_order_relaxed);
    return snapshot;
}

} // namespace kelvatone::editor
