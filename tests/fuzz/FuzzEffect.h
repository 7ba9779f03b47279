// What the fuzz targets that drive the plug-in share: one instance per input, opened
// through the fake host as a host opens it (so a finding reproduces from its input alone),
// and note lists built from the input as hosts lay them out. Any thread, one at a time per
// object.
#pragma once

#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/FakeHost.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace kelvatone::fuzz {

// The sample rates hosts announce most.
constexpr float kUsualRates[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};

// A fresh instance, sent effOpen, as every plug-in target starts an input.
inline testsupport::Instance openEffect() {
    return testsupport::Instance(testsupport::host, testsupport::Opening::SendEffOpen);
}

// Up to kMaxNotes MIDI events (note-off, note-on, controller or pitch bend on any channel,
// any data bytes, any frame offset) and the VstEvents block that points at them: the header
// and exactly as many pointers as events, as hosts allocate it. Copyable: the pointers are
// set when the block is handed out.
class NoteList {
public:
    static constexpr int kMaxNotes = 8;

    explicit NoteList(FuzzedDataProvider& input)
        : count(input.ConsumeIntegralInRange<int>(0, kMaxNotes)) {
        for (int i = 0; i < count; ++i) {
            vst::VstMidiEvent& note = notes[i];
            note.type = vst::kVstMidiType;
            note.byteSize = sizeof(vst::VstMidiEvent);
            note.deltaFrames = input.ConsumeIntegral<int32_t>();
            note.midiData[0] = static_cast<char>(input.PickValueInArray(kStatuses) |
                                                 input.ConsumeIntegralInRange<uint8_t>(0, 15));
            note.midiData[1] = static_cast<char>(input.ConsumeIntegral<uint8_t>());
            note.midiData[2] = static_cast<char>(input.ConsumeIntegral<uint8_t>());
        }
    }

    // Delivers the list; effProcessEvents answers 1 for every list.
    void send(const testsupport::Instance& effect) {
        auto* list = reinterpret_cast<vst::VstEvents*>(storage);
        list->numEvents = count;
        vst::VstEvent** slots = list->events;
        for (int i = 0; i < count; ++i)
            slots[i] = reinterpret_cast<vst::VstEvent*>(&notes[i]);
        require(effect.dispatch(vst::effProcessEvents, 0, 0, list) == 1,
                "effProcessEvents answers 1");
    }

private:
    static constexpr uint8_t kStatuses[] = {0x80, 0x90, 0xB0, 0xE0};

    int count;
    vst::VstMidiEvent notes[kMaxNotes] = {};
    alignas(vst::VstEvents) unsigned char storage[offsetof(vst::VstEvents, events) +
                                                  sizeof(vst::VstEvent*) * kMaxNotes] = {};
};

} // namespace kelvatone::fuzz
