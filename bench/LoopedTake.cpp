#include "bench/LoopedTake.h"

#include "tools/demo/DemoTake.h"

#include <algorithm>
#include <cmath>

using namespace kelvatone::demo;

namespace kelvatone::bench {
namespace {

constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kVelocity = 100;

} // namespace

std::vector<float> loopedTake(double seconds) {
    const std::vector<float> take = renderTake();
    const size_t frames = static_cast<size_t>(std::llround(seconds * kSampleRate));
    std::vector<float> looped(frames);
    for (size_t i = 0; i < frames; ++i)
        looped[i] = take[i % take.size()];
    return looped;
}

std::vector<kelvatone::io::MidiNoteEvent> loopedPart(double seconds) {
    std::vector<kelvatone::io::MidiNoteEvent> events;
    for (double offset = 0.0; offset < seconds; offset += kDurationSeconds) {
        for (const Note& note : melody()) {
            const uint8_t key = static_cast<uint8_t>(note.midiNote);
            if (offset + note.start < seconds)
                events.push_back({offset + note.start, kNoteOn, key, kVelocity});
            if (offset + note.end < seconds)
                events.push_back({offset + note.end, kNoteOff, key, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
        if (a.seconds != b.seconds)
            return a.seconds < b.seconds;
        return a.status == kNoteOff && b.status == kNoteOn;
    });
    return events;
}

} // namespace kelvatone::bench
