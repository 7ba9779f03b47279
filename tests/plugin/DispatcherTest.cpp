#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

TEST(KelvatoneDispatcher, FixedAnswers) {
    Instance instance;
    EXPECT_EQ(instance.dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(instance.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(instance.dispatch(effGetNumMidiInputChannels), 1);
    EXPECT_EQ(instance.dispatch(effGetNumMidiOutputChannels), 0);
    EXPECT_EQ(instance.dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(instance.dispatch(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(instance.dispatch(effSetTotalSampleToProcess, 0, 12345), 12345);
    for (int32_t index : {0, 5, 6, -1})
        EXPECT_EQ(instance.dispatch(effCanBeAutomated, index), 1) << index;
    for (int32_t opcode : {80, 1000, -1, 9, 16, 28, 57})
        EXPECT_EQ(instance.dispatch(opcode), 0) << opcode;
}

TEST(KelvatoneDispatcher, Programs) {
    Instance instance;
    instance.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(instance.dispatch(effGetProgram), 0);
    instance.dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(instance.dispatch(effGetProgram), 0) << "only one program";
}

TEST(KelvatoneDispatcher, SwitchingOnAsksForMidiEveryTime) {
    record().requests.clear();
    Instance instance(recordingHost);
    record().requests.clear();
    instance.dispatch(effMainsChanged, 0, 1);
    instance.dispatch(effMainsChanged, 0, 0);
    instance.dispatch(effMainsChanged, 0, 1);
    ASSERT_EQ(record().requests.size(), 2u);
    for (const Request& r : record().requests) {
        EXPECT_EQ(r.opcode, audioMasterWantMidi);
        EXPECT_EQ(r.value, 1);
    }
}

TEST(KelvatoneDispatcher, SwitchingDoesNotTouchTheEngine) {
    Instance instance;
    instance.kelvatone().engine.historyPitch[0].store(4000);
    instance.dispatch(effMainsChanged, 0, 0);
    instance.dispatch(effMainsChanged, 0, 1);
    instance.dispatch(effSetBlockSize, 0, 64);
    EXPECT_EQ(instance.kelvatone().engine.historyPitch[0].load(), 4000);
}

TEST(KelvatoneDispatcher, ChunksAndSpeakerArrangements) {
    Instance instance;
    void* data = &instance;
    EXPECT_EQ(instance.dispatch(effGetChunk, 0, 0, &data), 0);
    EXPECT_EQ(data, &instance);
    VstSpeakerArrangement arrangement{};
    VstSpeakerArrangement* input = &arrangement;
    VstSpeakerArrangement* output = &arrangement;
    EXPECT_EQ(
        instance.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), &output),
        0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(instance.dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST(KelvatoneDispatcher, EditorRectangleAndKeys) {
    Instance instance;
    ERect* rect = nullptr;
    EXPECT_EQ(instance.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 360);
    EXPECT_EQ(rect->right, 640);
    EXPECT_EQ(instance.dispatch(effEditKeyDown, 'a', 0), 0);
    EXPECT_EQ(instance.dispatch(effEditKeyUp, 'a', 0), 0);
    EXPECT_EQ(instance.dispatch(effEditIdle), 0);
    EXPECT_EQ(instance.dispatch(effSetEditKnobMode, 0, 2), 1);
}

} // namespace
