// A VST 2.4 module with known faults, for testing that `kelvatone-host validate`
// finds them: it allocates and yields in processReplacing, allocates in setParameter,
// locks a mutex in effProcessEvents,
// writes 12-character parameter names, writes its outputs for an empty block, and
// aborts on effGetTailSize. Otherwise a plain pass-through effect.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/host/TestModuleDescriptor.h"
#include "vst/AEffect.h"

using namespace kelvatone::vst;

#if defined(_WIN32)
#define FAULTY_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAULTY_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kFaultyUniqueId = 0x666C7479; // "flty"
constexpr int32_t kFaultyParams = 1;
constexpr int32_t kChannels = 2;
constexpr const char* kOverlongName = "Parameter000";
constexpr int32_t kEmptyBlockFrames = 4;
constexpr size_t kScratchBytes = 64;

std::mutex eventsMutex;
// The allocations escape through them, so the compiler cannot remove them. Any thread.
std::atomic<char*> escapedBlock{nullptr};
std::atomic<char*> escapedParameterBlock{nullptr};

struct FaultyEffect {
    AEffect descriptor{};
    float parameter = 0.5f;
};

FaultyEffect* effectOf(AEffect* descriptor) {
    return static_cast<FaultyEffect*>(descriptor->object);
}

intptr_t KELVATONE_VST_CALL dispatcher(AEffect* descriptor, int32_t opcode, int32_t, intptr_t,
                                       void* ptr, float) {
    switch (opcode) {
    case effClose:
        delete effectOf(descriptor);
        return 1;
    case effGetParamName:
        std::strcpy(static_cast<char*>(ptr), kOverlongName);
        return 0;
    case effGetParamDisplay:
    case effGetParamLabel:
        static_cast<char*>(ptr)[0] = '\0';
        return 0;
    case effProcessEvents: {
        std::lock_guard<std::mutex> lock(eventsMutex);
        return 1;
    }
    case effGetTailSize:
        std::abort();
    case effGetVstVersion:
        return kVstVersion;
    default:
        return 0;
    }
}

void KELVATONE_VST_CALL processReplacing(AEffect*, float** inputs, float** outputs,
                                         int32_t frames) {
    escapedBlock.store(new char[kScratchBytes]);
    delete[] escapedBlock.exchange(nullptr);
    std::this_thread::yield();
    const int32_t count = frames > 0 ? frames : kEmptyBlockFrames;
    for (int32_t channel = 0; channel < kChannels; ++channel) {
        std::memcpy(outputs[channel], inputs[channel], sizeof(float) * static_cast<size_t>(count));
    }
}

void KELVATONE_VST_CALL setParameter(AEffect* descriptor, int32_t, float value) {
    delete[] escapedParameterBlock.exchange(new char[kScratchBytes]);
    effectOf(descriptor)->parameter = value;
}

float KELVATONE_VST_CALL getParameter(AEffect* descriptor, int32_t) {
    return effectOf(descriptor)->parameter;
}

} // namespace

FAULTY_MODULE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    if (host == nullptr || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    auto* effect = new FaultyEffect;
    AEffect& d = effect->descriptor;
    kelvatone::host::testing::describeStereoEffect(d, effect, dispatcher, setParameter,
                                                   getParameter, processReplacing);
    d.numParams = kFaultyParams;
    d.uniqueID = kFaultyUniqueId;
    d.version = 1;
    return &d;
}
