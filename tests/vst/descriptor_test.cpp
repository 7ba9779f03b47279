// The descriptor record as the base constructor leaves it, the six forwarding
// functions, the base defaults of the basic operations, and deletion on effClose.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kelvatone::vst;

namespace {

class DescriptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        recordingHost().reset();
        TestEffect::destructions = 0;
        RecordingEditor::destructions = 0;
    }
};

uint32_t bitsOf(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

TEST_F(DescriptorTest, FreshBaseEffectHoldsTheBaseValues) {
    TestEffect effect(recordingCallback, 1, 6);
    const AEffect& e = effect.record();
    EXPECT_EQ(e.magic, 0x56737450);
    EXPECT_EQ(e.numPrograms, 1);
    EXPECT_EQ(e.numParams, 6);
    EXPECT_EQ(e.numInputs, 1);
    EXPECT_EQ(e.numOutputs, 2);
    EXPECT_EQ(e.flags, 0x10);
    EXPECT_EQ(bitsOf(e.ioRatio), 0x3F800000u);
    EXPECT_EQ(e.uniqueID, 0x4E6F4566);
    EXPECT_EQ(e.version, 1);
    EXPECT_EQ(e.object, static_cast<AudioEffect*>(&effect));
    EXPECT_EQ(e.user, nullptr);
    EXPECT_EQ(e.resvd1, 0);
    EXPECT_EQ(e.resvd2, 0);
    EXPECT_EQ(e.initialDelay, 0);
    EXPECT_EQ(e.realQualities, 0);
    EXPECT_EQ(e.offQualities, 0);
    for (char byte : e.future) {
        EXPECT_EQ(byte, 0);
    }
    // The padding after magic and after flags is cleared too: hosts may hash or
    // copy the record byte for byte.
    const auto* raw = reinterpret_cast<const unsigned char*>(&e);
    for (size_t at : {size_t{4}, size_t{5}, size_t{6}, size_t{7}, size_t{60}, size_t{61},
                      size_t{62}, size_t{63}}) {
        EXPECT_EQ(raw[at], 0) << "padding byte " << at;
    }
    EXPECT_NE(e.dispatcher, nullptr);
    EXPECT_NE(e.process, nullptr);
    EXPECT_NE(e.setParameter, nullptr);
    EXPECT_NE(e.getParameter, nullptr);
    EXPECT_NE(e.processReplacing, nullptr);
    EXPECT_NE(e.processDoubleReplacing, nullptr);
    EXPECT_EQ(effect.getAeffect(), &e);
    EXPECT_FLOAT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getProgram(), 0);
    EXPECT_EQ(effect.getEditor(), nullptr);
    // Construction asks the host nothing.
    EXPECT_TRUE(recordingHost().requests.empty());
}

TEST_F(DescriptorTest, AccumulatingProcessLeavesOutputsUntouched) {
    TestEffect effect;
    float inLeft[4] = {1, 2, 3, 4};
    float inRight[4] = {5, 6, 7, 8};
    float outLeft[4] = {-9, -9, -9, -9};
    float outRight[4] = {-7, -7, -7, -7};
    float* inputs[2] = {inLeft, inRight};
    float* outputs[2] = {outLeft, outRight};
    effect.record().process(&effect.record(), inputs, outputs, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outLeft[i], -9.0f);
        EXPECT_EQ(outRight[i], -7.0f);
    }
    double dIn[2] = {1, 2};
    double dOut[2] = {-3, -3};
    double* dInputs[1] = {dIn};
    double* dOutputs[1] = {dOut};
    effect.record().processDoubleReplacing(&effect.record(), dInputs, dOutputs, 2);
    EXPECT_EQ(dOut[0], -3.0);
    EXPECT_EQ(dOut[1], -3.0);
}

// Each record function must reach the object's own override.
class ForwardingEffect : public TestEffect {
public:
    void processReplacing(float** inputs, float** outputs, int32_t frames) override {
        outputs[0][0] = inputs[0][0] + static_cast<float>(frames);
    }
    void setParameter(int32_t index, float value) override {
        lastIndex = index;
        lastValue = value;
    }
    float getParameter(int32_t index) override { return static_cast<float>(index) * 0.25f; }
    int32_t lastIndex = -1;
    float lastValue = -1.0f;
};

TEST_F(DescriptorTest, RecordFunctionsForwardToTheObject) {
    ForwardingEffect effect;
    AEffect& e = effect.record();
    float in = 1.5f;
    float out = 0.0f;
    float* inputs[1] = {&in};
    float* outputs[1] = {&out};
    e.processReplacing(&e, inputs, outputs, 3);
    EXPECT_EQ(out, 4.5f);
    e.setParameter(&e, 4, 0.75f);
    EXPECT_EQ(effect.lastIndex, 4);
    EXPECT_EQ(effect.lastValue, 0.75f);
    EXPECT_EQ(e.getParameter(&e, 2), 0.5f);
}

TEST_F(DescriptorTest, BaseParameterAndTextDefaults) {
    TestEffect effect;
    AEffect& e = effect.record();
    for (int32_t index : {0, 5, 6, -1}) {
        EXPECT_EQ(e.getParameter(&e, index), 0.0f);
    }
    for (int32_t opcode :
         {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName}) {
        char text[16];
        std::memset(text, 'x', sizeof(text));
        EXPECT_EQ(effect.dispatch(opcode, 0, 0, text), 0);
        EXPECT_EQ(text[0], 0) << "opcode " << opcode;
        EXPECT_EQ(text[1], 'x') << "opcode " << opcode << " wrote past the empty string";
    }
    EXPECT_EQ(effect.getVu(), 0.0f);
}

struct FlagSetter {
    const char* name;
    void (*set)(TestEffect&, bool);
    int32_t flag;
};

TEST_F(DescriptorTest, FlagSettersSetAndClearExactlyTheirBit) {
    const FlagSetter setters[] = {
        {"canProcessReplacing", [](TestEffect& fx, bool s) { fx.canProcessReplacing(s); },
         effFlagsCanReplacing},
        {"canDoubleReplacing", [](TestEffect& fx, bool s) { fx.canDoubleReplacing(s); },
         effFlagsCanDoubleReplacing},
        {"programsAreChunks", [](TestEffect& fx, bool s) { fx.programsAreChunks(s); },
         effFlagsProgramChunks},
        {"hasVu", [](TestEffect& fx, bool s) { fx.hasVu(s); }, effFlagsHasVu},
        {"hasClip", [](TestEffect& fx, bool s) { fx.hasClip(s); }, effFlagsHasClip},
        {"canMono", [](TestEffect& fx, bool s) { fx.canMono(s); }, effFlagsCanMono},
        {"isSynth", [](TestEffect& fx, bool s) { fx.isSynth(s); }, effFlagsIsSynth},
        {"noTail", [](TestEffect& fx, bool s) { fx.noTail(s); }, effFlagsNoSoundInStop},
        {"wantAsyncOperation", [](TestEffect& fx, bool s) { fx.wantAsyncOperation(s); },
         effFlagsExtIsAsync},
        {"hasExternalBuffer", [](TestEffect& fx, bool s) { fx.hasExternalBuffer(s); },
         effFlagsExtHasBuffer},
    };
    for (const FlagSetter& setter : setters) {
        TestEffect effect;
        const int32_t before = effect.record().flags;
        setter.set(effect, true);
        EXPECT_EQ(effect.record().flags, before | setter.flag) << setter.name;
        setter.set(effect, false);
        EXPECT_EQ(effect.record().flags, before & ~setter.flag) << setter.name;
    }
}

TEST_F(DescriptorTest, EffCloseCallsCloseDeletesTheObjectAndAnswersOne) {
    class ClosingEffect : public TestEffect {
    public:
        explicit ClosingEffect(bool* closedFlag) : closed(closedFlag) {}
        void close() override { *closed = true; }
        bool* closed;
    };
    bool closed = false;
    auto* effect = new ClosingEffect(&closed);
    AEffect* e = effect->getAeffect();
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_TRUE(closed);
    EXPECT_EQ(TestEffect::destructions, 1);
}

TEST_F(DescriptorTest, AttachedEditorSetsTheFlagAndIsDeletedWithTheEffect) {
    auto* effect = new TestEffect;
    auto* editor = new RecordingEditor(effect);
    effect->setEditor(editor);
    EXPECT_EQ(effect->getEditor(), editor);
    EXPECT_EQ(effect->record().flags, effFlagsCanReplacing | effFlagsHasEditor);
    AEffect* e = effect->getAeffect();
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(RecordingEditor::destructions, 1);
    EXPECT_EQ(TestEffect::destructions, 1);
}

} // namespace
