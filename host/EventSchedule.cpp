#include "host/EventSchedule.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

// The arena lays a VstEvents record out as slots: [count][reserved][pointers...].
constexpr size_t kHeaderSlots = 2;
static_assert(offsetof(VstEvents, numEvents) == 0 &&
                  offsetof(VstEvents, reserved) == sizeof(uintptr_t) &&
                  offsetof(VstEvents, events) == kHeaderSlots * sizeof(uintptr_t),
              "the arena's slot layout must match the VstEvents record hosts exchange");

int64_t frameOf(double seconds, double sampleRate) {
    return static_cast<int64_t>(std::floor(seconds * sampleRate + 0.5));
}

} // namespace

std::vector<int64_t> planBlocks(int64_t totalFrames, int blockSize,
                                const std::vector<int64_t>& splitFrames) {
    std::vector<int64_t> splits(splitFrames);
    std::sort(splits.begin(), splits.end());
    std::vector<int64_t> starts;
    starts.reserve(static_cast<size_t>(totalFrames / blockSize + 1) + splits.size());
    auto split = splits.begin();
    for (int64_t position = 0; position < totalFrames;) {
        starts.push_back(position);
        int64_t end = std::min(position + blockSize, totalFrames);
        while (split != splits.end() && *split <= position) {
            ++split;
        }
        if (split != splits.end() && *split < end) {
            end = *split;
        }
        position = end;
    }
    return starts;
}

void EventSchedule::build(const std::vector<io::MidiNoteEvent>& notes, double sampleRate,
                          const std::vector<int64_t>& blockStarts, int64_t totalFrames) {
    events_.clear();
    arena_.clear();
    blocks_.clear();
    cursor_ = 0;

    std::vector<io::MidiNoteEvent> ordered(notes);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const io::MidiNoteEvent& a, const io::MidiNoteEvent& b) {
                         return a.seconds < b.seconds;
                     });
    std::vector<size_t> blockOfEvent;
    for (const io::MidiNoteEvent& note : ordered) {
        const int64_t frame = std::max<int64_t>(0, frameOf(note.seconds, sampleRate));
        if (frame >= totalFrames || blockStarts.empty()) {
            continue;
        }
        const auto next = std::upper_bound(blockStarts.begin(), blockStarts.end(), frame);
        const auto block = static_cast<size_t>(next - blockStarts.begin()) - 1;
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = static_cast<int32_t>(frame - blockStarts[block]);
        event.midiData[0] = static_cast<char>(note.status);
        event.midiData[1] = static_cast<char>(note.note);
        event.midiData[2] = static_cast<char>(note.velocity);
        events_.push_back(event);
        blockOfEvent.push_back(block);
    }

    // events_ is complete and no longer moves: the records can point into it.
    for (size_t first = 0; first < events_.size();) {
        size_t last = first;
        while (last < events_.size() && blockOfEvent[last] == blockOfEvent[first]) {
            ++last;
        }
        const size_t offset = arena_.size();
        const auto count = static_cast<int32_t>(last - first);
        arena_.resize(offset + kHeaderSlots + (last - first), 0);
        std::memcpy(&arena_[offset], &count, sizeof count);
        for (size_t i = first; i < last; ++i) {
            arena_[offset + kHeaderSlots + (i - first)] = reinterpret_cast<uintptr_t>(&events_[i]);
        }
        blocks_.push_back({blockOfEvent[first], offset});
        first = last;
    }
}

VstEvents* EventSchedule::eventsForBlock(size_t block) {
    while (cursor_ < blocks_.size() && blocks_[cursor_].block < block) {
        ++cursor_;
    }
    if (cursor_ < blocks_.size() && blocks_[cursor_].block == block) {
        return reinterpret_cast<VstEvents*>(&arena_[blocks_[cursor_].arenaOffset]);
    }
    return nullptr;
}

} // namespace kelvatone::host
