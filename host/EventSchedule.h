// The MIDI a run delivers, prepared before the audio thread starts: one VstEvents
// record for every block that has events, each event's deltaFrames inside its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/MidiFile.h"
#include "vst/AEffect.h"

namespace kelvatone::host {

// Start frames of the blocks of a run: blocks of `blockSize` frames, also split at
// every frame of `splitFrames`, so each pause point falls on a block boundary.
// Block i spans [starts[i], starts[i + 1]), the last one up to totalFrames.
std::vector<int64_t> planBlocks(int64_t totalFrames, int blockSize,
                                const std::vector<int64_t>& splitFrames);

class EventSchedule {
public:
    // UI thread, before processing. Notes whose frame lies at or past totalFrames are
    // dropped: there is no block to deliver them with.
    void build(const std::vector<io::MidiNoteEvent>& notes, double sampleRate,
               const std::vector<int64_t>& blockStarts, int64_t totalFrames);

    // Audio thread, for blocks in increasing order: the events to deliver before the
    // block, or null. Allocates nothing.
    vst::VstEvents* eventsForBlock(size_t block);

    // Any thread once built: the number of events the schedule delivers in all.
    size_t eventCount() const { return events_.size(); }

private:
    struct BlockEvents {
        size_t block;
        size_t arenaOffset; // where the block's VstEvents record starts in arena_
    };
    std::vector<vst::VstMidiEvent> events_;
    // VstEvents records laid end to end in pointer-sized slots: the count, the
    // reserved field, then one event pointer per event.
    std::vector<uintptr_t> arena_;
    std::vector<BlockEvents> blocks_;
    size_t cursor_ = 0;
};

} // namespace kelvatone::host
