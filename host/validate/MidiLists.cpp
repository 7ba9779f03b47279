#include "host/validate/MidiLists.h"

#include "vst/MidiBytes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int kSysexBytes = 6;
constexpr unsigned char kSysexDump[kSysexBytes] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
// Channel-message kinds (high nibbles) the random lists draw from, note messages
// counted twice so they dominate.
constexpr uint8_t kStatusKinds[] = {0x80, 0x90, 0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0};
constexpr int kSysexOneIn = 16;
constexpr int kVelocity = 100;
constexpr int kDataMask = 0x7F;

} // namespace

MidiLists::MidiLists(std::mt19937_64& seedSource)
    : random_(seedSource()), midi_(kMaxListEvents), dump_(kSysexDump, kSysexDump + kSysexBytes),
      listStorage_(offsetof(VstEvents, events) + sizeof(VstEvent*) * kMaxListEvents) {
    sysex_.type = kVstSysExType;
    sysex_.byteSize = sizeof(VstMidiSysexEvent);
    sysex_.dumpBytes = kSysexBytes;
    sysex_.sysexDump = dump_.data();
}

VstEvents* MidiLists::list(int count) {
    auto* events = reinterpret_cast<VstEvents*>(listStorage_.data());
    events->numEvents = count;
    events->reserved = 0;
    return events;
}

void MidiLists::randomMidi(VstMidiEvent& event, int32_t delta) {
    std::memset(&event, 0, sizeof event);
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = delta;
    std::uniform_int_distribution<int> kind(0, sizeof kStatusKinds - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> channel(0, kMidiChannels - 1);
    event.midiData[0] = static_cast<char>(kStatusKinds[kind(random_)] | channel(random_));
    event.midiData[1] = static_cast<char>(byte(random_));
    event.midiData[2] = static_cast<char>(byte(random_));
}

VstEvents* MidiLists::next(int32_t blockSize) {
    const int count = std::uniform_int_distribution<int>(0, kMaxListEvents)(random_);
    VstEvents* events = list(count);
    VstEvent** slots = events->events;
    const int32_t lastFrame = std::max(blockSize - 1, 0);
    int32_t delta = 0;
    std::uniform_int_distribution<int> sysexChance(0, kSysexOneIn - 1);
    // One SysEx record at most: it is the same record every time.
    bool sysexUsed = false;
    for (int i = 0; i < count; ++i) {
        delta = std::min(lastFrame, delta + std::uniform_int_distribution<int32_t>(0, 8)(random_));
        if (!sysexUsed && sysexChance(random_) == 0) {
            sysexUsed = true;
            sysex_.deltaFrames = delta;
            slots[i] = reinterpret_cast<VstEvent*>(&sysex_);
        } else {
            randomMidi(midi_[static_cast<size_t>(i)], delta);
            slots[i] = reinterpret_cast<VstEvent*>(&midi_[static_cast<size_t>(i)]);
        }
    }
    return events;
}

VstEvents* MidiLists::withCount(int32_t announced, int count) {
    VstEvents* events = list(std::min(count, kMaxListEvents));
    for (int i = 0; i < events->numEvents; ++i) {
        randomMidi(midi_[static_cast<size_t>(i)], 0);
        events->events[i] = reinterpret_cast<VstEvent*>(&midi_[static_cast<size_t>(i)]);
    }
    events->numEvents = announced;
    return events;
}

VstEvents* MidiLists::noteOns(int channel, int firstNote, int count) {
    VstEvents* events = list(std::min(count, kMaxListEvents));
    for (int i = 0; i < events->numEvents; ++i) {
        VstMidiEvent& event = midi_[static_cast<size_t>(i)];
        std::memset(&event, 0, sizeof event);
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.midiData[0] = static_cast<char>(kNoteOn | (channel & kChannelMask));
        event.midiData[1] = static_cast<char>((firstNote + i) & kDataMask);
        event.midiData[2] = static_cast<char>(kVelocity);
        events->events[i] = reinterpret_cast<VstEvent*>(&event);
    }
    return events;
}

VstEvents* MidiLists::sysexOnly() {
    VstEvents* events = list(1);
    sysex_.deltaFrames = 0;
    events->events[0] = reinterpret_cast<VstEvent*>(&sysex_);
    return events;
}

} // namespace kelvatone::host::validate
