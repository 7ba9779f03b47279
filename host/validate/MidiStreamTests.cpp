// MIDI as busy hosts send it: a thousand events in one block, events whose deltaFrames
// lie beyond the block (or before it), note-ons and note-offs streaming on all 16
// channels, and SysEx dumps of every size among notes. Every module must take them
// without writing past its buffers or changing the audio it passes; our own module
// must end up holding exactly the notes the lists leave held, which its picture shows.
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "host/validate/AnalysisRun.h"
#include "host/validate/KelvatonePicture.h"
#include "host/validate/Validation.h"
#include "vst/MidiBytes.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kStreamBlock = 512;
constexpr int kThousand = 1000;
constexpr int kThousandRounds = 8;
constexpr int kStreamBlocks = 60;
constexpr int kVelocity = 100;
// A note-off on another channel than its note-on, this many channels on.
constexpr int kOffChannelShift = 5;
constexpr int32_t kBeyondDeltas[] = {kStreamBlock, kStreamBlock + 1, 10 * kStreamBlock, INT32_MAX,
                                     -1,           -kStreamBlock,    INT32_MIN};
constexpr size_t kSysexSizes[] = {0, 1, 2, 6, 255, 4096, 65536};
constexpr uint8_t kSysexStart = 0xF0;
constexpr uint8_t kSysexEnd = 0xF7;

// A list of MIDI and SysEx events in storage of its own, handed out as VstEvents.
// Built and used on one thread.
class EventList {
public:
    void note(uint8_t status, int channel, int note, int velocity, int32_t delta = 0) {
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = delta;
        event.midiData[0] = static_cast<char>(status | (channel & 0x0F));
        event.midiData[1] = static_cast<char>(note);
        event.midiData[2] = static_cast<char>(velocity);
        entries_.push_back({event, {}, {}});
    }
    void sysex(size_t bytes, int32_t delta = 0) {
        Entry entry{};
        entry.dump.assign(bytes, 0x01);
        if (bytes > 0) {
            entry.dump.front() = static_cast<char>(kSysexStart);
            entry.dump.back() = static_cast<char>(kSysexEnd);
        }
        entry.sysex.type = kVstSysExType;
        entry.sysex.byteSize = sizeof(VstMidiSysexEvent);
        entry.sysex.deltaFrames = delta;
        entry.sysex.dumpBytes = static_cast<int32_t>(bytes);
        entries_.push_back(std::move(entry));
    }
    size_t size() const { return entries_.size(); }

    // Valid until the list changes.
    VstEvents* events() {
        storage_.assign(offsetof(VstEvents, events) + sizeof(VstEvent*) * entries_.size(), 0);
        auto* list = reinterpret_cast<VstEvents*>(storage_.data());
        list->numEvents = static_cast<int32_t>(entries_.size());
        VstEvent** slots = list->events;
        for (size_t i = 0; i < entries_.size(); ++i) {
            Entry& entry = entries_[i];
            if (entry.sysex.type == kVstSysExType) {
                entry.sysex.sysexDump = entry.dump.empty() ? nullptr : entry.dump.data();
                slots[i] = reinterpret_cast<VstEvent*>(&entry.sysex);
            } else {
                slots[i] = reinterpret_cast<VstEvent*>(&entry.midi);
            }
        }
        return list;
    }

private:
    struct Entry {
        VstMidiEvent midi;
        VstMidiSysexEvent sysex;
        std::vector<char> dump;
    };
    std::vector<Entry> entries_;
    std::vector<unsigned char> storage_;
};

// Releases every note on some channel, the way the lists end when nothing is to stay
// held; the channel of each note-off is not that of its note-on.
void releaseAll(EventList& list, Validation& validation, int32_t delta = 0) {
    for (int note = 0; note < kMidiNotes; ++note) {
        const auto channel = static_cast<int>(validation.uniform(0, kMidiChannels - 1));
        list.note(note % 2 == 0 ? kNoteOff : kNoteOn, channel, note, 0, delta);
    }
}

Outcome thousandEvents(Validation& validation, AnalysisRun& run) {
    const int rounds = validation.scaled(kThousandRounds);
    for (int round = 0; round < rounds; ++round) {
        EventList list;
        const int random = kThousand - kMidiNotes - 1;
        for (int i = 0; i < random; ++i) {
            const auto delta = static_cast<int32_t>(i * kStreamBlock / random);
            const auto channel = static_cast<int>(validation.uniform(0, kMidiChannels - 1));
            const auto note = static_cast<int>(validation.uniform(0, kMidiNotes - 1));
            switch (validation.uniform(0, 4)) {
            case 0:
                list.note(kControlChange, channel, kAllNotesOff, 0, delta);
                break;
            case 1:
                list.note(kPitchBend, channel, note, note, delta);
                break;
            default:
                list.note(i % 2 == 0 ? kNoteOn : kNoteOff, channel, note, kVelocity, delta);
                break;
            }
        }
        releaseAll(list, validation, kStreamBlock - 1);
        // Every other round leaves one note held, the last of the thousand events.
        const bool held = round % 2 == 0;
        if (held) {
            list.note(kNoteOn, kMidiChannels - 1, kKelvatoneVisibleNote, kVelocity,
                      kStreamBlock - 1);
        } else {
            list.note(kPitchBend, 0, 0, 0, kStreamBlock - 1);
        }
        run.deliver(list.events());
        run.expectNotesHeld(held, "a list of " + std::to_string(list.size()) + " events");
    }
    return run.outcome(std::to_string(rounds) + " lists of " + std::to_string(kThousand) +
                       " events");
}

Outcome deltasBeyondBlock(Validation&, AnalysisRun& run) {
    for (const int32_t delta : kBeyondDeltas) {
        const std::string what = "deltaFrames " + std::to_string(delta);
        EventList on;
        on.note(kNoteOn, 0, kKelvatoneVisibleNote, kVelocity, delta);
        on.sysex(kSysexSizes[3], delta);
        run.deliver(on.events());
        run.expectNotesHeld(true, "a note-on at " + what);
        EventList off;
        off.note(kNoteOff, 0, kKelvatoneVisibleNote, 0, delta);
        run.deliver(off.events());
        run.expectNotesHeld(false, "its note-off at " + what);
    }
    return run.outcome("notes take effect whatever their deltaFrames");
}

Outcome runningNotes(Validation& validation, AnalysisRun& run) {
    const int blocks = validation.scaled(kStreamBlocks);
    for (int block = 0; block < blocks; ++block) {
        EventList list;
        for (int channel = 0; channel < kMidiChannels; ++channel) {
            const int note = (block * kMidiChannels + channel) % kMidiNotes;
            const auto delta = static_cast<int32_t>(channel * (kStreamBlock / kMidiChannels));
            list.note(kNoteOn, channel, note, kVelocity, delta);
            // Released on another channel, half by note-off, half by velocity 0.
            const int offChannel = (channel + kOffChannelShift) % kMidiChannels;
            list.note(channel % 2 == 0 ? kNoteOff : kNoteOn, offChannel, note, 0, delta + 1);
        }
        run.deliver(list.events());
        run.feed(Waveform::Silence, kStreamBlock, kStreamBlock);
    }
    run.expectNotesHeld(false, std::to_string(blocks * kMidiChannels) +
                                   " notes, each released on another channel");
    EventList hold;
    for (int channel = 0; channel < kMidiChannels; ++channel) {
        hold.note(kNoteOn, channel, kKelvatoneVisibleNote, kVelocity);
    }
    run.deliver(hold.events());
    run.expectNotesHeld(true, "the same note on all 16 channels");
    EventList release;
    release.note(kNoteOff, kMidiChannels - 1, kKelvatoneVisibleNote, 0);
    run.deliver(release.events());
    run.expectNotesHeld(false, "one note-off for it on channel 16");
    return run.outcome(std::to_string(blocks) + " blocks of note-ons and note-offs on 16 channels");
}

Outcome sysexAmongNotes(Validation&, AnalysisRun& run) {
    for (const size_t size : kSysexSizes) {
        const std::string what = "SysEx of " + std::to_string(size) + " bytes";
        EventList on;
        on.sysex(size);
        on.note(kNoteOn, 0, kKelvatoneVisibleNote, kVelocity);
        on.sysex(size);
        run.deliver(on.events());
        run.expectNotesHeld(true, "a note-on between two " + what);
        EventList off;
        off.sysex(size);
        off.note(kNoteOff, 0, kKelvatoneVisibleNote, 0);
        off.sysex(size);
        run.deliver(off.events());
        run.expectNotesHeld(false, "a note-off between two " + what);
    }
    return run.outcome("SysEx of 0 to 65536 bytes between note events");
}

} // namespace

void addMidiStreamTests(std::vector<TestCase>& tests) {
    tests.push_back(analysisRunTest("midi.thousand-events", kStreamBlock, thousandEvents));
    tests.push_back(analysisRunTest("midi.deltas-beyond-block", kStreamBlock, deltasBeyondBlock));
    tests.push_back(analysisRunTest("midi.running-notes", kStreamBlock, runningNotes));
    tests.push_back(analysisRunTest("midi.sysex-among-notes", kStreamBlock, sysexAmongNotes));
}

} // namespace kelvatone::host::validate
