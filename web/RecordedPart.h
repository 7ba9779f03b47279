// The notes meant of a take recorded on the page: the notes held at each analysed frame,
// as the worklet's columns carry them, turned into the note-ons and note-offs of a part.
//
// Threads: any (the page's main thread calls it); pure.
#pragma once

#include "web/LiveAudio.h"
#include "web/PartPlayer.h"

#include <cstddef>
#include <vector>

namespace kelvatone::web {

// One analysed frame of a recorded take: when it was analysed, in seconds from the take's
// start, and its column as the worklet sent it.
struct RecordedFrame {
    double seconds;
    Column column;
};
// The page writes recorded frames as 32-byte records, the column's five words at byte 8.
static_assert(sizeof(RecordedFrame) == 32, "the page writes 32-byte recorded frames");
static_assert(offsetof(RecordedFrame, column) == 8, "the page writes the column at byte 8");

// The velocity of a recorded note-on (the columns keep no velocity).
constexpr uint8_t kRecordedVelocity = 100;

// A note-on where a note is held that the frame before did not hold (none is held before
// the first frame) and a note-off where one is let go, at the frame's time, in time order.
std::vector<PartEvent> recordedPart(const RecordedFrame* frames, size_t count);

} // namespace kelvatone::web
