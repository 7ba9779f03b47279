// What every plug-in fuzz target shares: a minimal host that answers the version
// request, one effect instance per input (so a finding reproduces from its input
// alone), and a check that aborts so libFuzzer reports the input that broke it.
#pragma once

#include "plugin/Kelvatone.h"
#include "vst/AEffect.h"

#include <cstdio>
#include <cstdlib>

namespace kelvatone::fuzz {

constexpr intptr_t kHostVersion = kVstVersion;

// Any thread: the effect may ask the host from its dispatcher and its constructor.
inline intptr_t KELVATONE_VST_CALL fuzzHostCallback(AEffect*, int32_t opcode, int32_t, intptr_t,
                                                    void*, float) {
    return opcode == audioMasterVersion ? kHostVersion : 0;
}

// Aborts with a message: libFuzzer treats the abort as a crash and saves the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// An effect opened the way a host opens one, closed through the dispatcher when the
// input is done.
class EffectUnderTest {
public:
    EffectUnderTest() : effect(createKelvatone(fuzzHostCallback)) {
        require(effect != nullptr, "the entry created no effect");
        dispatch(effOpen);
    }
    ~EffectUnderTest() { dispatch(effClose); }
    EffectUnderTest(const EffectUnderTest&) = delete;
    EffectUnderTest& operator=(const EffectUnderTest&) = delete;

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    AEffect* const effect;
};

} // namespace kelvatone::fuzz
