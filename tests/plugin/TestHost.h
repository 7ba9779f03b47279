// A minimal host for driving the effect in tests: answers the version request and
// records every request the effect sends.
#pragma once

#include "plugin/Kelvatone.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace testhost {

struct Request {
    int32_t opcode;
    int32_t index;
    intptr_t value;
};

// The requests seen by hostCallback, in order. Tests run single-threaded here.
inline std::vector<Request>& requests() {
    static std::vector<Request> seen;
    return seen;
}

inline intptr_t hostCallback(AEffect*, int32_t opcode, int32_t index, intptr_t value, void*,
                             float) {
    requests().push_back({opcode, index, value});
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

inline intptr_t silentHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// Creates an instance through the same path as the module entry and closes it with
// effClose when it goes out of scope.
class Instance {
public:
    explicit Instance(audioMasterCallback callback = silentHost)
        : effect(createKelvatone(callback)) {}
    ~Instance() {
        if (effect != nullptr)
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    Kelvatone& kelvatone() const { return *static_cast<Kelvatone*>(effect->object); }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) const {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    void setParameter(int32_t index, float value) const {
        effect->setParameter(effect, index, value);
    }
    float getParameter(int32_t index) const { return effect->getParameter(effect, index); }

    AEffect* effect;
};

// A stereo block of the same sine on both channels.
struct StereoBlock {
    std::vector<float> left, right;
    float* inputs[2];
    std::vector<float> outLeft, outRight;
    float* outputs[2];

    explicit StereoBlock(int32_t frames)
        : left(frames), right(frames), outLeft(frames), outRight(frames) {
        inputs[0] = left.data();
        inputs[1] = right.data();
        outputs[0] = outLeft.data();
        outputs[1] = outRight.data();
    }
    int32_t frames() const { return static_cast<int32_t>(left.size()); }
};

// Feeds `seconds` of a sine through the effect in blocks; returns the pitches of the
// frames analysed after the first `settleFrames`.
inline std::vector<PitchCents> pitchesOfSine(Instance& instance, double frequency,
                                             double sampleRate, double seconds,
                                             int settleFrames = 4) {
    constexpr double kTwoPi = 6.283185307179586;
    constexpr int32_t kBlock = 256;
    Kelvatone& effect = instance.kelvatone();
    StereoBlock block(kBlock);
    std::vector<PitchCents> pitches;
    const int64_t total = static_cast<int64_t>(seconds * sampleRate);
    int analysed = 0;
    for (int64_t start = 0; start < total; start += kBlock) {
        for (int32_t i = 0; i < kBlock; ++i) {
            const float v = static_cast<float>(
                0.5 * std::sin(kTwoPi * frequency * double(start + i) / sampleRate));
            block.left[i] = v;
            block.right[i] = v;
        }
        const int32_t before = effect.engine.historyIndex.load();
        effect.processReplacing(block.inputs, block.outputs, kBlock);
        const int32_t after = effect.engine.historyIndex.load();
        for (int32_t c = before; c != after; c = (c + 1) % kHistoryLength) {
            if (++analysed > settleFrames)
                pitches.push_back(effect.engine.historyPitch[c].load());
        }
    }
    return pitches;
}

} // namespace testhost
