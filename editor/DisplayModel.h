// What the display shows, apart from how it is drawn: the history and latest result of
// an engine, the view that follows them, the display range, the octave offset and Hold.
// The audio side writes it (a frame's column and its scroll step, published together),
// and every reader takes one consistent snapshot of it to draw: the plug-in's editor
// window and the web page's canvas alike.
//
// Threads:
//   - audio thread: publishFrame, frameAnalysed (lock-free, no allocation, no drawing);
//   - any thread: pictureChanged, changes, scrollView, toggleHold, the view's getters;
//   - any thread but the audio thread: takeSnapshot (it may wait, yielding, while a frame
//     is being published).
#pragma once

#include "analysis/AnalysisEngine.h"
#include "editor/DisplayRenderer.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::editor {

class DisplayModel {
public:
    // Shows `engine`'s history at its display range; the engine outlives the model and
    // its displayRange is read now for the first view. Thread that creates the reader.
    explicit DisplayModel(analysis::AnalysisEngine& engine);
    DisplayModel(const DisplayModel&) = delete;
    DisplayModel& operator=(const DisplayModel&) = delete;

    // Audio thread: appends a frame's result and held notes to the history and takes
    // the scroll step, published as one whole under the history's sequence lock.
    void publishFrame(analysis::PitchCents result, const analysis::HeldNoteSet& notes);
    // Audio thread, inside the history's sequence lock with the frame's column: the
    // scroll step with the frame's result, and a new picture marked due.
    void frameAnalysed(analysis::PitchCents result);
    // Any thread: something the picture shows changed other than by a frame.
    void pictureChanged();
    // The number of changes so far; a reader draws while it differs from the count it
    // drew. Acquire: the changes it counts are visible to the reader's snapshot.
    uint32_t changes() const { return pictureChanges.load(std::memory_order_acquire); }
    // The scroll step with a result (scrolledView), applied whole even when the audio
    // thread and a click scroll at once. Lock-free; any thread.
    void scrollView(analysis::PitchCents result);
    // Flips Hold; when `scroll` is set also takes a scroll step with the latest result
    // (as a shown display does). Marks a new picture due. Any thread.
    void toggleHold(bool scroll);

    // One consistent copy of everything the picture shows: the history and the result of
    // one frame with the view after that frame, the display range, the octave offset and
    // Hold. Any thread but the audio thread.
    Snapshot takeSnapshot() const;

    int32_t viewBase() const { return viewOf(view.load(std::memory_order_relaxed)).base; }
    int32_t scrollStep() const { return viewOf(view.load(std::memory_order_relaxed)).step; }

    // Freezes analysis and picture. Written by the reader's thread (hold clicks), read by
    // the audio thread once per sample and by snapshots; nothing else is published
    // through it.
    std::atomic<bool> hold{false};

private:
    static uint64_t packView(View view) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(view.base)) << 32) |
               static_cast<uint32_t>(view.step);
    }
    static View viewOf(uint64_t packed) {
        return {static_cast<int32_t>(packed >> 32),
                static_cast<int32_t>(static_cast<uint32_t>(packed))};
    }

    analysis::AnalysisEngine& engine;
    // The view: pitch at the bottom edge (high 32 bits) and the next scroll distance
    // (low 32 bits), in cents, changed together by scrollView from the audio thread or a
    // hold click, read by either.
    std::atomic<uint64_t> view{0};
    // The audio thread scrolls the view, so the view must never take a lock.
    static_assert(std::atomic<uint64_t>::is_always_lock_free);
    // Counts the changes of what the picture shows: incremented by the audio thread
    // (frames), the setting threads (parameters) and hold clicks; read by the readers.
    std::atomic<uint32_t> pictureChanges{0};
};

} // namespace kelvatone::editor
