#include "web/RecordedPart.h"

namespace kelvatone::web {

std::vector<PartEvent> recordedPart(const RecordedFrame* frames, size_t count) {
    std::vector<PartEvent> events;
    analysis::HeldNoteSet before;
    for (size_t f = 0; f < count; ++f) {
        const analysis::HeldNoteSet now = notesOf(frames[f].column);
        for (int note = 0; note < vst::kMidiNotes; ++note) {
            const bool held = now.contains(note);
            if (held == before.contains(note))
                continue;
            events.push_back({frames[f].seconds,
                              held ? vst::kNoteOn : vst::kNoteOff,
                              static_cast<uint8_t>(note),
                              held ? kRecordedVelocity : uint8_t{0},
                              {}});
        }
        before = now;
    }
    return events;
}

} // namespace kelvatone::web
