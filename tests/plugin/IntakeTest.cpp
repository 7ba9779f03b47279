#include "tests/support/FakeHost.h"

#include "editor/KelvatoneGui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

using namespace kelvatone::testsupport;
using namespace kelvatone::editor;
using namespace kelvatone::vst;
using namespace kelvatone::plugin;
using namespace kelvatone::analysis;

namespace {

VstMidiEvent midiEvent(uint8_t status, uint8_t note, uint8_t velocity) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(note);
    event.midiData[2] = static_cast<char>(velocity);
    return event;
}

// Delivers the events through effProcessEvents as a host does.
intptr_t deliver(const Instance& instance, std::vector<VstMidiEvent>& events) {
    std::vector<unsigned char> storage(sizeof(VstEvents) + events.size() * sizeof(VstEvent*));
    auto* list = reinterpret_cast<VstEvents*>(storage.data());
    list->numEvents = static_cast<int32_t>(events.size());
    for (size_t i = 0; i < events.size(); ++i)
        list->events[i] = reinterpret_cast<VstEvent*>(&events[i]);
    return instance.dispatch(effProcessEvents, 0, 0, list);
}

bool held(const Instance& instance, int note) {
    return instance.kelvatone().heldNotes.contains(note);
}

TEST(AudioIntake, OutputEqualsInputBitForBit) {
    Instance instance;
    StereoBlock block(4096);
    std::mt19937 random(7);
    for (int i = 0; i < block.frames(); ++i) {
        uint32_t bits[2] = {static_cast<uint32_t>(random()), static_cast<uint32_t>(random())};
        std::memcpy(&block.left[i], &bits[0], sizeof(float));
        std::memcpy(&block.right[i], &bits[1], sizeof(float));
    }
    block.left[10] = std::numeric_limits<float>::quiet_NaN();
    block.right[11] = std::numeric_limits<float>::infinity();
    block.left[12] = std::numeric_limits<float>::denorm_min();
    instance.effect->processReplacing(instance.effect, block.inputs, block.outputs, 4096);
    EXPECT_EQ(std::memcmp(block.left.data(), block.outLeft.data(), 4096 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(block.right.data(), block.outRight.data(), 4096 * sizeof(float)), 0);
}

TEST(AudioIntake, InPlaceBuffersPassThrough) {
    Instance instance;
    StereoBlock block(1000);
    for (int i = 0; i < 1000; ++i)
        block.left[i] = block.right[i] = static_cast<float>(i) * 0.001f;
    const std::vector<float> original = block.left;
    instance.effect->processReplacing(instance.effect, block.inputs, block.inputs, 1000);
    EXPECT_EQ(block.left, original);
}

TEST(AudioIntake, EmptyOrNegativeBlocksTouchNothing) {
    Instance instance;
    StereoBlock block(8);
    std::fill(block.outLeft.begin(), block.outLeft.end(), 3.0f);
    for (int32_t frames : {0, -1, -4096}) {
        instance.kelvatone().processReplacing(block.inputs, block.outputs, frames);
        EXPECT_EQ(instance.kelvatone().engine.hopCounter, 0);
        EXPECT_EQ(instance.kelvatone().engine.ringWriteIndex, 0);
        EXPECT_EQ(block.outLeft[0], 3.0f);
    }
}

TEST(AudioIntake, MonoMixOfTheTwoChannels) {
    Instance instance;
    StereoBlock block(2);
    block.left = {1.0f, 0.25f};
    block.right = {1.0f, -0.75f};
    instance.kelvatone().processReplacing(block.inputs, block.outputs, 2);
    const AnalysisEngine& engine = instance.kelvatone().engine;
    EXPECT_EQ(engine.sampleRing[0], 1.0);
    EXPECT_EQ(engine.sampleRing[1], -0.25);
}

TEST(AudioIntake, OneAnalysisOnTheLastSampleOfAHop) {
    Instance instance;
    Kelvatone& effect = instance.kelvatone();
    StereoBlock block(1470);
    effect.processReplacing(block.inputs, block.outputs, 1469);
    EXPECT_EQ(effect.engine.historyIndex.load(), 0);
    effect.processReplacing(block.inputs, block.outputs, 1);
    EXPECT_EQ(effect.engine.historyIndex.load(), 1);
    effect.processReplacing(block.inputs, block.outputs, 1470);
    EXPECT_EQ(effect.engine.historyIndex.load(), 2) << "exactly one analysis per hop";
    StereoBlock longBlock(1470 * 3);
    effect.processReplacing(longBlock.inputs, longBlock.outputs, 1470 * 3);
    EXPECT_EQ(effect.engine.historyIndex.load(), 5) << "several analyses in one long block";
}

TEST(AudioIntake, HoldStopsTheAnalysisAndReleasingItAnalysesAtOnce) {
    Instance instance;
    Kelvatone& effect = instance.kelvatone();
    StereoBlock block(1470);
    effect.display()->hold.store(true);
    for (int i = 0; i < 4; ++i)
        effect.processReplacing(block.inputs, block.outputs, 1470);
    EXPECT_EQ(effect.engine.historyIndex.load(), 0);
    EXPECT_EQ(effect.engine.hopCounter, 4 * 1470) << "samples keep arriving while held";
    effect.display()->hold.store(false);
    effect.processReplacing(block.inputs, block.outputs, 1);
    EXPECT_EQ(effect.engine.historyIndex.load(), 1);
}

TEST(AudioIntake, TheHeldNotesGoIntoTheAnalysedColumn) {
    Instance instance;
    Kelvatone& effect = instance.kelvatone();
    std::vector<VstMidiEvent> events = {midiEvent(0x90, 69, 100)};
    deliver(instance, events);
    StereoBlock block(1470);
    effect.processReplacing(block.inputs, block.outputs, 1470);
    EXPECT_TRUE(effect.engine.historyNotes[0].load().contains(69));
    EXPECT_FALSE(effect.engine.historyNotes[0].load().contains(68));
}

TEST(MidiIntake, NoteOnAndNoteOffOnAnyChannel) {
    Instance instance;
    std::vector<VstMidiEvent> on = {midiEvent(0x90, 60, 100)};
    EXPECT_EQ(deliver(instance, on), 1);
    EXPECT_TRUE(held(instance, 60));
    EXPECT_EQ(instance.kelvatone().heldNotes.words[1], 1u << 28);
    std::vector<VstMidiEvent> zeroVelocity = {midiEvent(0x90, 60, 0)};
    deliver(instance, zeroVelocity);
    EXPECT_FALSE(held(instance, 60));
    std::vector<VstMidiEvent> otherChannel = {midiEvent(0x93, 60, 1), midiEvent(0x85, 60, 64)};
    deliver(instance, otherChannel);
    EXPECT_FALSE(held(instance, 60));
    std::vector<VstMidiEvent> extremes = {midiEvent(0x9F, 0, 1), midiEvent(0x90, 127, 127)};
    deliver(instance, extremes);
    EXPECT_TRUE(held(instance, 0));
    EXPECT_TRUE(held(instance, 127));
}

TEST(MidiIntake, OtherMessagesAndEventsLeaveTheSet) {
    Instance instance;
    // Other controllers (sustain, reset all controllers, local control), pressure, bend.
    std::vector<VstMidiEvent> events = {midiEvent(0x90, 64, 90), midiEvent(0xB0, 64, 127),
                                        midiEvent(0xB0, 121, 0), midiEvent(0xB0, 122, 0),
                                        midiEvent(0xA0, 64, 0),  midiEvent(0xE0, 64, 0)};
    deliver(instance, events);
    VstMidiEvent sysex = midiEvent(0x80, 64, 0);
    sysex.type = kVstSysExType;
    std::vector<VstMidiEvent> sysexOnly = {sysex};
    deliver(instance, sysexOnly);
    EXPECT_TRUE(held(instance, 64));
}

// A host that stops its transport sends all-notes-off or all-sound-off instead of the
// note-offs; without them a note stays lit until the plug-in is removed.
TEST(MidiIntake, AllNotesOffAndAllSoundOffReleaseEveryNoteOnAnyChannel) {
    for (const uint8_t status : {uint8_t{0xB0}, uint8_t{0xBF}}) {
        for (const uint8_t controller : {uint8_t{120}, uint8_t{123}}) {
            Instance instance;
            std::vector<VstMidiEvent> notes = {midiEvent(0x90, 0, 90), midiEvent(0x93, 60, 90),
                                               midiEvent(0x9F, 127, 90)};
            deliver(instance, notes);
            std::vector<VstMidiEvent> stop = {midiEvent(status, controller, 0),
                                              midiEvent(0x90, 72, 80)};
            deliver(instance, stop);
            EXPECT_FALSE(held(instance, 0) || held(instance, 60) || held(instance, 127))
                << "controller " << int(controller) << " on status " << int(status);
            EXPECT_TRUE(held(instance, 72)) << "a note after the controller is held again";
        }
    }
}

TEST(MidiIntake, NoteBytesAbove127AreSkipped) {
    Instance instance;
    const HeldNoteSet before = instance.kelvatone().heldNotes;
    std::vector<VstMidiEvent> events;
    for (int note = 128; note < 256; ++note)
        events.push_back(midiEvent(0x90, static_cast<uint8_t>(note), 100));
    deliver(instance, events);
    const HeldNoteSet& after = instance.kelvatone().heldNotes;
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(HeldNoteSet)), 0);
}

TEST(MidiIntake, EmptyAndNegativeListsAnswerOne) {
    Instance instance;
    VstEvents list{};
    list.numEvents = 0;
    EXPECT_EQ(instance.dispatch(effProcessEvents, 0, 0, &list), 1);
    list.numEvents = -5;
    EXPECT_EQ(instance.dispatch(effProcessEvents, 0, 0, &list), 1);
}

TEST(MidiIntake, CanDoReceiveMidiOnly) {
    Instance instance;
    char midi[] = "receiveVstMidiEvent";
    char other[] = "receiveVstEvents";
    char upper[] = "ReceiveVstMidiEvent";
    char empty[] = "";
    EXPECT_EQ(instance.dispatch(effCanDo, 0, 0, midi), 1);
    EXPECT_EQ(instance.dispatch(effCanDo, 0, 0, other), 0);
    EXPECT_EQ(instance.dispatch(effCanDo, 0, 0, upper), 0);
    EXPECT_EQ(instance.dispatch(effCanDo, 0, 0, empty), 0);
}

} // namespace
