// effProcessEvents with arbitrary event lists: MIDI records with any bytes, SysEx
// records with real dumps, records of other types, null entries, and counts from
// negative up to the number of records the list really holds. Each list is also run
// through a model of the held-note set, and the effect must agree with it.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr size_t kMaxRecords = 64;
constexpr size_t kMaxSysexBytes = 512;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kHighestNote = 127;

enum class RecordKind : uint8_t { Midi, Sysex, OtherType, Null, kMaxValue = Null };

// One event record in memory of exactly its own size, so a read past it is caught.
struct Record {
    std::unique_ptr<uint8_t[]> bytes;
    std::vector<char> dump;
};

// Note-on and note-off on any channel most of the time, any status byte otherwise;
// note and velocity bytes over their whole range, 128..255 included.
uint8_t statusFrom(FuzzedDataProvider& input) {
    const uint8_t channel = input.ConsumeIntegralInRange<uint8_t>(0, 15);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        return kNoteOn | channel;
    case 1:
        return kNoteOff | channel;
    default:
        return input.ConsumeIntegral<uint8_t>();
    }
}

// Any byte, with the edges of the 7-bit data range (127 and 128) given often.
uint8_t dataByteFrom(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return kHighestNote;
    case 1:
        return kHighestNote + 1;
    default:
        return input.ConsumeIntegral<uint8_t>();
    }
}

Record midiRecord(FuzzedDataProvider& input) {
    std::vector<uint8_t> raw = input.ConsumeBytes<uint8_t>(sizeof(VstMidiEvent));
    raw.resize(sizeof(VstMidiEvent));
    VstMidiEvent midi;
    std::memcpy(&midi, raw.data(), sizeof(midi));
    midi.type = kVstMidiType;
    midi.byteSize = sizeof(VstMidiEvent);
    midi.midiData[0] = static_cast<char>(statusFrom(input));
    midi.midiData[1] = static_cast<char>(dataByteFrom(input));
    midi.midiData[2] =
        static_cast<char>(input.ConsumeBool() ? 0 : input.ConsumeIntegral<uint8_t>());
    Record record;
    record.bytes.reset(new uint8_t[sizeof(midi)]);
    std::memcpy(record.bytes.get(), &midi, sizeof(midi));
    return record;
}

Record sysexRecord(FuzzedDataProvider& input) {
    Record record;
    record.dump = input.ConsumeBytes<char>(input.ConsumeIntegralInRange<size_t>(0, kMaxSysexBytes));
    VstMidiSysexEvent sysex{};
    sysex.type = kVstSysExType;
    sysex.byteSize = sizeof(VstMidiSysexEvent);
    sysex.deltaFrames = input.ConsumeIntegral<int32_t>();
    sysex.dumpBytes = static_cast<int32_t>(record.dump.size());
    sysex.sysexDump = record.dump.empty() ? nullptr : record.dump.data();
    record.bytes.reset(new uint8_t[sizeof(sysex)]);
    std::memcpy(record.bytes.get(), &sysex, sizeof(sysex));
    return record;
}

// A generic VstEvent whose type is anything but MIDI.
Record otherRecord(FuzzedDataProvider& input) {
    Record record = midiRecord(input);
    int32_t type = input.ConsumeIntegral<int32_t>();
    if (type == kVstMidiType)
        type = kVstSysExType;
    std::memcpy(record.bytes.get(), &type, sizeof(type));
    return record;
}

// The held-note set as note-on / note-off should leave it.
void applyToModel(const VstMidiEvent& midi, HeldNoteSet& model) {
    const uint8_t status = static_cast<uint8_t>(midi.midiData[0]) & 0xF0;
    const uint8_t note = static_cast<uint8_t>(midi.midiData[1]);
    const uint8_t velocity = static_cast<uint8_t>(midi.midiData[2]);
    if (note > kHighestNote || (status != kNoteOn && status != kNoteOff))
        return;
    const uint32_t bit = 1u << (note % 32);
    if (status == kNoteOn && velocity != 0)
        model.words[note / 32] |= bit;
    else
        model.words[note / 32] &= ~bit;
}

// Mostly every record the list holds; sometimes fewer, sometimes a negative count.
int32_t countFrom(FuzzedDataProvider& input, int32_t recordCount) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return input.ConsumeIntegralInRange<int32_t>(INT32_MIN, -1);
    case 1:
        return input.ConsumeIntegralInRange<int32_t>(0, recordCount);
    default:
        return recordCount;
    }
}

// Runs one list; the VstEvents block holds exactly as many pointers as records.
void deliverList(FuzzedDataProvider& input, Instance& host, HeldNoteSet& model) {
    const size_t recordCount = input.ConsumeIntegralInRange<size_t>(0, kMaxRecords);
    std::vector<Record> records;
    records.reserve(recordCount);
    for (size_t i = 0; i < recordCount && input.remaining_bytes() > 0; ++i) {
        switch (input.ConsumeEnum<RecordKind>()) {
        case RecordKind::Midi:
            records.push_back(midiRecord(input));
            break;
        case RecordKind::Sysex:
            records.push_back(sysexRecord(input));
            break;
        case RecordKind::OtherType:
            records.push_back(otherRecord(input));
            break;
        case RecordKind::Null:
            records.push_back(Record{});
            break;
        }
    }
    const int32_t count = countFrom(input, static_cast<int32_t>(records.size()));

    const size_t listBytes = offsetof(VstEvents, events) + sizeof(VstEvent*) * records.size();
    std::unique_ptr<uint8_t[]> list(new uint8_t[listBytes]);
    std::memset(list.get(), 0, listBytes);
    std::memcpy(list.get() + offsetof(VstEvents, numEvents), &count, sizeof(count));
    for (size_t i = 0; i < records.size(); ++i) {
        VstEvent* event = reinterpret_cast<VstEvent*>(records[i].bytes.get());
        std::memcpy(list.get() + offsetof(VstEvents, events) + i * sizeof(VstEvent*), &event,
                    sizeof(event));
    }

    const intptr_t answer = host.dispatch(effProcessEvents, 0, 0, list.get());
    require(answer == 1, "effProcessEvents answers 1 for every list");

    for (int32_t i = 0; i < count; ++i) {
        const Record& record = records[static_cast<size_t>(i)];
        if (!record.bytes)
            continue;
        VstMidiEvent midi;
        std::memcpy(&midi, record.bytes.get(), sizeof(midi));
        if (midi.type == kVstMidiType)
            applyToModel(midi, model);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Instance host = openEffect();
    const Kelvatone* effect =
        static_cast<const Kelvatone*>(static_cast<AudioEffect*>(host.effect->object));
    HeldNoteSet model;
    while (input.remaining_bytes() > 0) {
        deliverList(input, host, model);
        require(std::memcmp(effect->heldNotes.words, model.words, sizeof(model.words)) == 0,
                "the held notes follow note-on and note-off on every channel");
    }
    require(host.dispatch(effProcessEvents, 0, 0, nullptr) == 1,
            "effProcessEvents answers 1 for a null list");
    return 0;
}
