#include "host/HostCallback.h"

#include <cstring>

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

// VST 2.4 gives vendor and product strings 64 bytes including the terminating zero.
constexpr size_t kHostStringCapacity = 64;
constexpr const char* kHostVendor = "Kelvatone";
constexpr const char* kHostProduct = "kelvatone-host";
constexpr intptr_t kHostVendorVersion = 1;

// Capabilities we answer yes to in audioMasterCanDo.
constexpr const char* kHostCapabilities[] = {"sendVstEvents", "sendVstMidiEvent"};

thread_local HostContext* entryContext = nullptr;
thread_local bool onAudioThread = false;

HostContext* contextOf(AEffect* effect) {
    if (effect != nullptr && effect->resvd1 != 0) {
        return reinterpret_cast<HostContext*>(effect->resvd1);
    }
    return entryContext;
}

intptr_t copyHostString(void* ptr, const char* text) {
    if (ptr == nullptr) {
        return 0;
    }
    auto* out = static_cast<char*>(ptr);
    std::strncpy(out, text, kHostStringCapacity - 1);
    out[kHostStringCapacity - 1] = '\0';
    return 1;
}

intptr_t canHostDo(const void* ptr) {
    if (ptr == nullptr) {
        return 0;
    }
    for (const char* capability : kHostCapabilities) {
        if (std::strcmp(static_cast<const char*>(ptr), capability) == 0) {
            return 1;
        }
    }
    return 0;
}

} // namespace

void setContextForEntry(HostContext* context) {
    entryContext = context;
}

void markAudioThread(bool isAudioThread) {
    onAudioThread = isAudioThread;
}

intptr_t KELVATONE_VST_CALL hostCallback(AEffect* effect, int32_t opcode, int32_t /*index*/,
                                         intptr_t /*value*/, void* ptr, float /*opt*/) {
    HostContext* context = contextOf(effect);
    switch (opcode) {
    case audioMasterVersion:
        return kHostVstVersion;
    case audioMasterWantMidi:
        if (context != nullptr) {
            context->wantMidiRequests.fetch_add(1, std::memory_order_relaxed);
        }
        return 1;
    case audioMasterAutomate:
        if (context != nullptr) {
            context->automateRequests.fetch_add(1, std::memory_order_relaxed);
        }
        return 0;
    case audioMasterGetSampleRate:
        return static_cast<intptr_t>(context != nullptr
                                         ? context->sampleRate.load(std::memory_order_relaxed)
                                         : kDefaultSampleRate);
    case audioMasterGetBlockSize:
        return context != nullptr ? context->blockSize.load(std::memory_order_relaxed)
                                  : kDefaultBlockSize;
    case audioMasterGetCurrentProcessLevel:
        return onAudioThread ? kProcessLevelRealtime : kProcessLevelUser;
    case audioMasterGetAutomationState:
        return kAutomationOff;
    case audioMasterGetLanguage:
        return kLanguageEnglish;
    case audioMasterGetVendorString:
        return copyHostString(ptr, kHostVendor);
    case audioMasterGetProductString:
        return copyHostString(ptr, kHostProduct);
    case audioMasterGetVendorVersion:
        return kHostVendorVersion;
    case audioMasterCanDo:
        return canHostDo(ptr);
    default:
        // Time info, window sizing, offline processing and the rest: not offered.
        return 0;
    }
}

} // namespace kelvatone::host
