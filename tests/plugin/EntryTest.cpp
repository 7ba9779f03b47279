#include "tests/support/FakeHost.h"

#include "editor/KelvatoneGui.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kelvatone::testsupport;
using namespace kelvatone::vst;
using namespace kelvatone::plugin;
using namespace kelvatone::analysis;

namespace {

int versionRequests = 0;

intptr_t refusingHost(AEffect* effect, int32_t opcode, int32_t, intptr_t, void*, float) {
    if (opcode == audioMasterVersion && effect == nullptr)
        ++versionRequests;
    return 0;
}

TEST(ModuleEntry, HostAnsweringZeroToTheVersionGetsNoInstance) {
    versionRequests = 0;
    EXPECT_EQ(createKelvatone(refusingHost), nullptr);
    EXPECT_EQ(versionRequests, 1);
}

TEST(ModuleEntry, NoCallbackGetsNoInstance) {
    EXPECT_EQ(createKelvatone(nullptr), nullptr);
}

TEST(ModuleEntry, DescriptorRightAfterTheEntry) {
    Instance instance;
    const AEffect& e = *instance.effect;
    EXPECT_EQ(e.magic, 0x56737450);
    EXPECT_EQ(e.numPrograms, 1);
    EXPECT_EQ(e.numParams, 6);
    EXPECT_EQ(e.numInputs, 2);
    EXPECT_EQ(e.numOutputs, 2);
    EXPECT_EQ(e.flags, 0x11);
    EXPECT_EQ(e.uniqueID, 0x71723238);
    EXPECT_EQ(e.version, 1);
    EXPECT_FLOAT_EQ(e.ioRatio, 1.0f);
    EXPECT_EQ(e.object, static_cast<void*>(&instance.kelvatone()));
    EXPECT_NE(e.processReplacing, nullptr);
    const char zeros[sizeof(e.future)] = {};
    EXPECT_EQ(std::memcmp(e.future, zeros, sizeof(zeros)), 0);
}

TEST(ModuleEntry, ConstructionConfiguresTheEngineAt44100) {
    Instance instance;
    const AnalysisEngine& engine = instance.kelvatone().engine;
    EXPECT_EQ(engine.engineSampleRate, 44100.0);
    EXPECT_EQ(engine.fftSize, 4096);
    EXPECT_EQ(engine.hopLength, 1470);
    EXPECT_EQ(engine.currentPitch.load(), -1);
    EXPECT_EQ(instance.kelvatone().display(), instance.kelvatone().getEditor());
    EXPECT_FALSE(instance.kelvatone().display()->hold.load());
}

TEST(ModuleEntry, EffCloseAnswersOneAndFreesTheInstance) {
    // Under AddressSanitizer a leak or a use after free fails this test.
    AEffect* effect = createKelvatone(host);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST(ModuleEntry, AccumulatingProcessWritesNothing) {
    Instance instance;
    StereoBlock block(64);
    std::fill(block.left.begin(), block.left.end(), 0.25f);
    std::fill(block.outLeft.begin(), block.outLeft.end(), 7.0f);
    instance.effect->process(instance.effect, block.inputs, block.outputs, 64);
    for (float v : block.outLeft)
        EXPECT_EQ(v, 7.0f);
}

} // namespace
