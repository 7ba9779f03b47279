// Random MIDI event lists for effProcessEvents, built in storage made up front so
// that handing one out on the audio thread allocates nothing.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "vst/AEffect.h"

namespace kelvatone::host::validate {

// Events per list at most.
constexpr int kMaxListEvents = 64;

// Used by one thread at a time; next() and the list builders allocate nothing.
class MidiLists {
public:
    explicit MidiLists(std::mt19937_64& seedSource);

    // A list of 0..kMaxListEvents events with increasing deltaFrames inside a block
    // of `blockSize`: note-ons and note-offs on all 16 channels, other channel
    // messages, note bytes over the whole 0..255 range, and now and then one SysEx event.
    vst::VstEvents* next(int32_t blockSize);
    // A list holding `count` valid events but announcing `announced` (0, negative).
    vst::VstEvents* withCount(int32_t announced, int count);
    // `count` note-ons (status 0x90 | channel, velocity 100) for the given notes.
    vst::VstEvents* noteOns(int channel, int firstNote, int count);
    // One SysEx event with a dump of a few bytes.
    vst::VstEvents* sysexOnly();

private:
    vst::VstEvents* list(int count);
    void randomMidi(vst::VstMidiEvent& event, int32_t delta);

    std::mt19937_64 random_;
    std::vector<vst::VstMidiEvent> midi_;
    vst::VstMidiSysexEvent sysex_{};
    std::vector<char> dump_;
    // VstEvents header and kMaxListEvents pointers.
    std::vector<unsigned char> listStorage_;
};

} // namespace kelvatone::host::validate
