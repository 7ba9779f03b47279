// The answers of both dispatcher layers, the operations they reach, and the MIDI
// request on switch-on.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kelvatone::vst;

namespace {

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override { recordingHost().reset(); }
    TestEffect effect;
};

TEST_F(DispatcherTest, FixedAnswers) {
    EXPECT_EQ(effect.dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(effect.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(effect.dispatch(effGetNumMidiInputChannels), 1);
    EXPECT_EQ(effect.dispatch(effGetNumMidiOutputChannels), 0);
    EXPECT_EQ(effect.dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(effect.dispatch(effGetTailSize), 0);
    EXPECT_EQ(effect.dispatch(effGetVendorVersion), 0);
    EXPECT_EQ(effect.dispatch(effProcessEvents), 0);
    EXPECT_EQ(effect.dispatch(effStartProcess), 0);
    EXPECT_EQ(effect.dispatch(effStopProcess), 0);
}

TEST_F(DispatcherTest, UnhandledOpcodesAnswerZero) {
    for (int32_t opcode : {80, 1000, -1, std::numeric_limits<int32_t>::min(),
                           9,  16,   17, 18,
                           20, 21,   28, 30,
                           31, 32,   36, 37,
                           43, 46,   53, 54,
                           55, 57}) {
        EXPECT_EQ(effect.dispatch(opcode, 1, 1, nullptr, 1.0f), 0) << "opcode " << opcode;
    }
    EXPECT_TRUE(recordingHost().requests.empty());
}

TEST_F(DispatcherTest, EveryIndexCanBeAutomated) {
    for (int32_t index : {0, 5, 6, -1}) {
        EXPECT_EQ(effect.dispatch(effCanBeAutomated, index), 1) << "index " << index;
    }
}

TEST_F(DispatcherTest, PlugCategoryFollowsTheSynthFlag) {
    effect.isSynth(true);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), kPlugCategSynth);
    effect.isSynth(false);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), kPlugCategUnknown);
}

TEST_F(DispatcherTest, SetProgramTakesOnlyExistingPrograms) {
    TestEffect threePrograms(recordingCallback, 3, 6);
    EXPECT_EQ(threePrograms.dispatch(effSetProgram, 0, 2), 0);
    EXPECT_EQ(threePrograms.dispatch(effGetProgram), 2);
    threePrograms.dispatch(effSetProgram, 0, 3);
    EXPECT_EQ(threePrograms.dispatch(effGetProgram), 2);
    threePrograms.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(threePrograms.dispatch(effGetProgram), 2);
    // A value that only its low 32 bits would make a valid program.
    threePrograms.dispatch(effSetProgram, 0, (intptr_t{1} << 32) + 1);
    EXPECT_EQ(threePrograms.dispatch(effGetProgram), 2);

    EXPECT_EQ(effect.dispatch(effSetProgram, 0, 0), 0);
    EXPECT_EQ(effect.dispatch(effGetProgram), 0);
    effect.dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(effect.dispatch(effGetProgram), 0);
}

TEST_F(DispatcherTest, MainsChangedOnAsksForMidiOnceAndOffSendsNothing) {
    effect.canDoAnswer = 1;
    EXPECT_EQ(effect.dispatch(effMainsChanged, 0, 1), 0);
    ASSERT_EQ(recordingHost().requests.size(), 1u);
    const HostRequest& request = recordingHost().requests[0];
    EXPECT_EQ(request.opcode, audioMasterWantMidi);
    EXPECT_EQ(request.effect, &effect.record());
    EXPECT_EQ(request.index, 0);
    EXPECT_EQ(request.value, 1);
    EXPECT_EQ(request.ptr, nullptr);
    EXPECT_EQ(request.opt, 0.0f);
    EXPECT_STREQ(effect.lastCanDoText, "receiveVstMidiEvent");

    EXPECT_EQ(effect.dispatch(effMainsChanged, 0, 0), 0);
    EXPECT_EQ(recordingHost().requests.size(), 1u);
    effect.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(recordingHost().requestsWith(audioMasterWantMidi).size(), 2u);
}

TEST_F(DispatcherTest, ResumeAsksForMidiOnlyForSynthsOrAnExactCanDoOfOne) {
    effect.canDoAnswer = 0;
    effect.dispatch(effMainsChanged, 0, 1);
    effect.canDoAnswer = -1;
    effect.dispatch(effMainsChanged, 0, 1);
    effect.canDoAnswer = 2;
    effect.dispatch(effMainsChanged, 0, 1);
    EXPECT_TRUE(recordingHost().requests.empty());

    effect.canDoAnswer = 0;
    effect.isSynth(true);
    effect.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(recordingHost().requestsWith(audioMasterWantMidi).size(), 1u);
}

TEST_F(DispatcherTest, CanDoPassesTheTextAndToleratesNone) {
    effect.canDoAnswer = 1;
    char text[] = "receiveVstMidiEvent";
    EXPECT_EQ(effect.dispatch(effCanDo, 0, 0, text), 1);
    EXPECT_EQ(effect.lastCanDoText, text);
    effect.canDoAnswer = -1;
    EXPECT_EQ(effect.dispatch(effCanDo, 0, 0, text), -1);
    effect.lastCanDoText = nullptr;
    EXPECT_EQ(effect.dispatch(effCanDo, 0, 0, nullptr), 0);
    EXPECT_EQ(effect.lastCanDoText, nullptr);
}

TEST_F(DispatcherTest, SampleRateOpcodeStoresOnlyTheRate) {
    EXPECT_EQ(effect.dispatch(effSetSampleRate, 7, 9, nullptr, 48000.0f), 0);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getProgram(), 0);
    EXPECT_EQ(effect.record().flags, effFlagsCanReplacing);

    EXPECT_EQ(effect.dispatch(effSetBlockSize, 0, 256, nullptr, 1.0f), 0);
    EXPECT_EQ(effect.getBlockSize(), 256);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_TRUE(recordingHost().requests.empty());
}

TEST_F(DispatcherTest, TotalSampleToProcessAnswersTheLow32BitsSignExtended) {
    EXPECT_EQ(effect.dispatch(effSetTotalSampleToProcess, 0, 12345), 12345);
    EXPECT_EQ(effect.dispatch(effSetTotalSampleToProcess, 0, -7), -7);
    EXPECT_EQ(effect.dispatch(effSetTotalSampleToProcess, 0, (intptr_t{1} << 32) + 5), 5);
    EXPECT_EQ(effect.dispatch(effSetTotalSampleToProcess, 0, 0xFFFFFFFFll), -1);
}

TEST_F(DispatcherTest, GetChunkLeavesTheHostPointer) {
    int marker = 0;
    void* data = &marker;
    EXPECT_EQ(effect.dispatch(effGetChunk, 1, 0, &data), 0);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(effect.dispatch(effSetChunk, 0, 4, &marker), 0);
}

TEST_F(DispatcherTest, GetSpeakerArrangementClearsValidPointersAndSkipsNullOnes) {
    int dummyIn = 0;
    int dummyOut = 0;
    auto* input = reinterpret_cast<VstSpeakerArrangement*>(&dummyIn);
    auto* output = reinterpret_cast<VstSpeakerArrangement*>(&dummyOut);
    EXPECT_EQ(
        effect.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), &output),
        0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);

    output = reinterpret_cast<VstSpeakerArrangement*>(&dummyOut);
    EXPECT_EQ(effect.dispatch(effGetSpeakerArrangement, 0, 0, &output), 0);
    EXPECT_EQ(output, nullptr);
    input = reinterpret_cast<VstSpeakerArrangement*>(&dummyIn);
    EXPECT_EQ(
        effect.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), nullptr),
        0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(effect.dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

// An effect whose extended operations all answer true or a recognisable number, to
// see that each opcode reaches its operation with its arguments in place.
class ArgumentEffect : public TestEffect {
public:
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override {
        seen = {category, index, text};
        return true;
    }
    bool setBypass(bool onOff) override {
        bypass = onOff;
        return true;
    }
    intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) override {
        seen = {index, static_cast<int32_t>(value), ptr};
        seenOpt = opt;
        return intptr_t{1} << 40;
    }
    bool setSpeakerArrangement(VstSpeakerArrangement* input,
                               VstSpeakerArrangement* output) override {
        seen = {0, 0, input};
        seenOutput = output;
        return true;
    }
    bool offlineNotify(VstAudioFile* files, int32_t numFiles, bool start) override {
        seen = {numFiles, start ? 1 : 0, files};
        return true;
    }
    bool setPanLaw(int32_t type, float value) override {
        seen = {type, 0, nullptr};
        seenOpt = value;
        return true;
    }
    int32_t getMidiProgramName(int32_t channel, VstMidiProgramName* name) override {
        seen = {channel, 0, name};
        return 17;
    }

    struct Seen {
        int32_t first;
        int32_t second;
        void* ptr;
    } seen{-1, -1, nullptr};
    float seenOpt = 0.0f;
    void* seenOutput = nullptr;
    bool bypass = false;
};

TEST(DispatcherArguments, OpcodesPlaceTheirArguments) {
    recordingHost().reset();
    ArgumentEffect effect;
    char text[8];
    EXPECT_EQ(effect.dispatch(effGetProgramNameIndexed, 4, 9, text), 1);
    EXPECT_EQ(effect.seen.first, 9);
    EXPECT_EQ(effect.seen.second, 4);
    EXPECT_EQ(effect.seen.ptr, text);

    EXPECT_EQ(effect.dispatch(effSetBypass, 0, 2), 1);
    EXPECT_TRUE(effect.bypass);
    effect.dispatch(effSetBypass, 0, 0);
    EXPECT_FALSE(effect.bypass);

    EXPECT_EQ(effect.dispatch(effVendorSpecific, 3, 11, text, 0.5f), intptr_t{1} << 40);
    EXPECT_EQ(effect.seen.first, 3);
    EXPECT_EQ(effect.seen.second, 11);
    EXPECT_EQ(effect.seenOpt, 0.5f);

    int in = 0;
    int out = 0;
    EXPECT_EQ(effect.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out),
              1);
    EXPECT_EQ(effect.seen.ptr, &in);
    EXPECT_EQ(effect.seenOutput, &out);

    EXPECT_EQ(effect.dispatch(effOfflineNotify, 1, 6, text), 1);
    EXPECT_EQ(effect.seen.first, 6);
    EXPECT_EQ(effect.seen.second, 1);

    EXPECT_EQ(effect.dispatch(effSetPanLaw, 0, 2, nullptr, 0.7f), 1);
    EXPECT_EQ(effect.seen.first, 2);
    EXPECT_EQ(effect.seenOpt, 0.7f);

    EXPECT_EQ(effect.dispatch(effGetMidiProgramName, 5, 0, text), 17);
    EXPECT_EQ(effect.seen.first, 5);
}

TEST_F(DispatcherTest, EditorOpcodesWithoutAnEditorAnswerZero) {
    ERect* rect = reinterpret_cast<ERect*>(&effect);
    EXPECT_EQ(effect.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, reinterpret_cast<ERect*>(&effect)) << "nothing written without an editor";
    int parent = 0;
    for (int32_t opcode : {effEditOpen, effEditClose, effEditIdle, effEditKeyDown, effEditKeyUp,
                           effSetEditKnobMode}) {
        EXPECT_EQ(effect.dispatch(opcode, 65, 1, &parent, 2.0f), 0) << "opcode " << opcode;
    }
}

class EditorDispatchTest : public DispatcherTest {
protected:
    void SetUp() override {
        DispatcherTest::SetUp();
        editor = new RecordingEditor(&effect);
        effect.setEditor(editor);
    }
    RecordingEditor* editor = nullptr;
};

TEST_F(EditorDispatchTest, RectOpenCloseIdleReachTheEditor) {
    ERect* rect = nullptr;
    EXPECT_EQ(effect.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_EQ(rect, &editor->rect);
    EXPECT_EQ(rect->bottom, 360);
    EXPECT_EQ(rect->right, 640);
    // A host that passes no place for the rectangle gets 0, and nothing is written.
    EXPECT_EQ(effect.dispatch(effEditGetRect, 0, 0, nullptr), 0);
    EXPECT_EQ(editor->getRectCalls, 1);

    int parent = 0;
    EXPECT_EQ(effect.dispatch(effEditOpen, 0, 0, &parent), 1);
    EXPECT_EQ(editor->openedWith, &parent);
    EXPECT_EQ(effect.dispatch(effEditClose), 0);
    EXPECT_EQ(editor->closeCalls, 1);
    EXPECT_EQ(effect.dispatch(effEditIdle), 0);
    EXPECT_EQ(editor->idleCalls, 1);
}

TEST_F(EditorDispatchTest, KeyOpcodesBuildTheKeyRecord) {
    EXPECT_EQ(effect.dispatch(effEditKeyDown, 'a', 0x1234, nullptr, 5.9f), 0);
    ASSERT_EQ(editor->keyDown.size(), 1u);
    EXPECT_EQ(editor->keyDown[0].character, 'a');
    EXPECT_EQ(editor->keyDown[0].virt, 0x34);
    EXPECT_EQ(editor->keyDown[0].modifier, 5);

    editor->keyAnswer = true;
    EXPECT_EQ(effect.dispatch(effEditKeyUp, -3, 7, nullptr, 258.0f), 1);
    ASSERT_EQ(editor->keyUp.size(), 1u);
    EXPECT_EQ(editor->keyUp[0].character, -3);
    EXPECT_EQ(editor->keyUp[0].virt, 7);
    EXPECT_EQ(editor->keyUp[0].modifier, 2);

    // An option no integer holds gives no modifier.
    effect.dispatch(effEditKeyDown, 0, 0, nullptr, std::nanf(""));
    effect.dispatch(effEditKeyDown, 0, 0, nullptr, 1e20f);
    ASSERT_EQ(editor->keyDown.size(), 3u);
    EXPECT_EQ(editor->keyDown[1].modifier, 0);
    EXPECT_EQ(editor->keyDown[2].modifier, 0);
}

TEST_F(EditorDispatchTest, KnobModeGetsTheLow32BitsOfValue) {
    EXPECT_EQ(effect.dispatch(effSetEditKnobMode, 0, (intptr_t{1} << 32) + 2), 1);
    EXPECT_EQ(editor->knobMode, 2);
}

} // namespace
