// The history of the last 320 analysed frames that the display draws: per column the pitch
// and the set of MIDI notes held at the frame, the index of the next column to write, and
// the latest result. Fixed arrays, never replaced, so a reader may read them at any time.
//
// Threads:
//   - the writer (in the plug-in the audio thread, holding the engine's guard):
//     storeHeldNotes, recordResult, append, clearHistory. It brackets every change that
//     readers may see in historyUpdates (clearHistory brackets itself); inside it every
//     value is stored with release order.
//   - readers on any thread: copy the columns whole under historyUpdates, loading every
//     value with acquire order, and retry when the copy was torn.
// The columns and their index are GUARDED_BY historyUpdates, so the compiler checks both
// sides: a write holds it exclusively, a read shared.
// Allocates nothing, locks nothing.
#pragma once

#include "analysis/SequenceLock.h"
#include "analysis/ThreadSafety.h"
#include "analysis/Units.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::analysis {

constexpr int kHistoryLength = 320;

// The set of held MIDI notes: MIDI note n is bit (n mod 32) of word (n div 32).
struct HeldNoteSet {
    uint32_t words[4] = {0, 0, 0, 0};

    bool contains(int note) const {
        return note >= 0 && note < 128 && ((words[note >> 5] >> (note & 31)) & 1u) != 0;
    }
    // note: 0..127
    void add(uint8_t note) { words[note >> 5] |= 1u << (note & 31); }
    void remove(uint8_t note) { words[note >> 5] &= ~(1u << (note & 31)); }
};

// One history column's note set, readable by the display while the audio thread writes.
// Release stores and acquire loads, as the history's sequence lock asks of its values.
struct AtomicNoteSet {
    std::atomic<uint32_t> words[4];

    void store(const HeldNoteSet& set) {
        for (int w = 0; w < 4; ++w)
            words[w].store(set.words[w], std::memory_order_release);
    }
    HeldNoteSet load() const {
        HeldNoteSet set;
        for (int w = 0; w < 4; ++w)
            set.words[w] = words[w].load(std::memory_order_acquire);
        return set;
    }
};

class PitchHistory {
public:
    // Written by the writer inside historyUpdates; read by the display on any thread.
    // The latest result: the pitch of the newest analysed frame. Not guarded: a reader that
    // needs it alone (a hold click's scroll step) may load it outside a read.
    std::atomic<PitchCents> currentPitch{kNoPitch};
    std::atomic<PitchCents> historyPitch[kHistoryLength] GUARDED_BY(historyUpdates);
    // The column the next frame goes to.
    std::atomic<int32_t> historyIndex GUARDED_BY(historyUpdates){0};
    // Results recorded since construction, counting on over clears (and wrapping): how a
    // caller tells new frames from a clear, which also moves historyIndex. Written by the
    // writer in recordResult; read by any thread.
    std::atomic<uint32_t> resultsRecorded{0};
    AtomicNoteSet historyNotes[kHistoryLength] GUARDED_BY(historyUpdates);
    // Brackets every change of the results and the history (and whatever the caller
    // publishes with them, such as the display's view), so that a reader copies one
    // consistent frame. Inside it the results and the history are stored with release
    // order; readers load them with acquire order.
    SequenceLock historyUpdates;

    // Every column empty. Construction: one thread.
    PitchHistory();
    PitchHistory(const PitchHistory&) = delete;
    PitchHistory& operator=(const PitchHistory&) = delete;

    // writer: stores the notes held at the coming frame in the next column.
    void storeHeldNotes(const HeldNoteSet& notes) REQUIRES(historyUpdates);
    // writer: makes a pitch the latest result and appends it to the next column (whose notes
    // storeHeldNotes stored), moving to the column after it.
    void recordResult(PitchCents pitch) REQUIRES(historyUpdates);
    // writer: one analysed frame, its pitch and the notes held at it: storeHeldNotes, then
    // recordResult. Callers that share the history with readers bracket it in
    // historyUpdates.
    void append(PitchCents pitch, const HeldNoteSet& notes) REQUIRES(historyUpdates) {
        storeHeldNotes(notes);
        recordResult(pitch);
    }
    // writer: every column without pitch or notes, the next column 0, inside historyUpdates.
    // The latest result stays.
    void clearHistory() EXCLUDES(historyUpdates);
};

} // namespace kelvatone::analysis
