#include "tests/support/FakeHost.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace kelvatone::vst;
using namespace kelvatone::plugin;

namespace kelvatone::testsupport {

HostRecord& record() {
    static HostRecord shared;
    return shared;
}

intptr_t KELVATONE_VST_CALL host(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float) {
    HostRecord& seen = record();
    switch (opcode) {
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterIdle:
        ++seen.idleRequests;
        if (void (*onIdle)() = seen.onIdle.load())
            onIdle();
        return 1;
    case audioMasterBeginEdit:
        seen.lastBeginEdit = index;
        return 1;
    case audioMasterEndEdit:
        seen.lastEndEdit = index;
        return 1;
    default:
        return 0;
    }
}

intptr_t KELVATONE_VST_CALL recordingHost(AEffect* effect, int32_t opcode, int32_t index,
                                          intptr_t value, void* ptr, float opt) {
    record().requests.push_back({opcode, index, value});
    return host(effect, opcode, index, value, ptr, opt);
}

namespace {

AEffect* createOrAbort(audioMasterCallback callback) {
    AEffect* effect = createKelvatone(callback);
    if (effect == nullptr) {
        std::fprintf(stderr, "fake host: the entry created no effect\n");
        std::abort();
    }
    return effect;
}

} // namespace

Instance::Instance(audioMasterCallback callback, Opening opening)
    : effect(createOrAbort(callback)) {
    if (opening == Opening::SendEffOpen)
        dispatch(effOpen);
}

Instance::~Instance() {
    dispatch(effClose);
}

StereoBlock::StereoBlock(int32_t frames)
    : left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames)),
      outLeft(static_cast<size_t>(frames)), outRight(static_cast<size_t>(frames)) {
    inputs[0] = left.data();
    inputs[1] = right.data();
    outputs[0] = outLeft.data();
    outputs[1] = outRight.data();
}

std::vector<analysis::PitchCents> pitchesOfSine(Instance& instance, double frequency,
                                                double sampleRate, double seconds,
                                                int settleFrames) {
    constexpr double kTwoPi = 6.283185307179586;
    constexpr double kAmplitude = 0.5;
    constexpr int32_t kBlock = 256;
    plugin::Kelvatone& effect = instance.kelvatone();
    StereoBlock block(kBlock);
    std::vector<analysis::PitchCents> pitches;
    const auto total = static_cast<int64_t>(seconds * sampleRate);
    int analysed = 0;
    for (int64_t start = 0; start < total; start += kBlock) {
        for (int32_t i = 0; i < kBlock; ++i) {
            const auto v = static_cast<float>(
                kAmplitude *
                std::sin(kTwoPi * frequency * static_cast<double>(start + i) / sampleRate));
            block.left[static_cast<size_t>(i)] = v;
            block.right[static_cast<size_t>(i)] = v;
        }
        const int32_t before = effect.engine.historyIndex.load();
        effect.processReplacing(block.inputs, block.outputs, kBlock);
        const int32_t after = effect.engine.historyIndex.load();
        for (int32_t c = before; c != after; c = (c + 1) % analysis::kHistoryLength) {
            if (++analysed > settleFrames)
                pitches.push_back(effect.engine.historyPitch[c].load());
        }
    }
    return pitches;
}

} // namespace kelvatone::testsupport
