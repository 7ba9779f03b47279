// The host side of the callback through which a module asks its host for things.
#pragma once

#include <atomic>
#include <cstdint>

#include "vst/AEffect.h"

namespace kelvatone::host {

// The version we report to audioMasterVersion: VST 2.4.
constexpr intptr_t kHostVstVersion = 2400;
// Answers to audioMasterGetCurrentProcessLevel.
constexpr intptr_t kProcessLevelUser = 1;
constexpr intptr_t kProcessLevelRealtime = 2;
// Answer to audioMasterGetAutomationState: automation off.
constexpr intptr_t kAutomationOff = 1;
// Answer to audioMasterGetLanguage: English.
constexpr intptr_t kLanguageEnglish = 1;
constexpr float kDefaultSampleRate = 44100.0f;
constexpr int32_t kDefaultBlockSize = 512;

// What the host knows about one instance; the callback finds it through the
// descriptor's resvd1 field, which VST 2.4 reserves for the host.
struct HostContext {
    // Written by the UI thread before processing starts, read by any thread.
    std::atomic<float> sampleRate{kDefaultSampleRate};
    std::atomic<int32_t> blockSize{kDefaultBlockSize};
    // Written by whichever thread the module asks on, read by the UI thread.
    std::atomic<int32_t> wantMidiRequests{0};
    std::atomic<int32_t> automateRequests{0};
};

// Any thread: the callback handed to every module entry.
intptr_t KELVATONE_VST_CALL hostCallback(vst::AEffect* effect, int32_t opcode, int32_t index,
                                         intptr_t value, void* ptr, float opt);

// Calling thread only: the context answered for requests that arrive while the entry
// runs, before the descriptor's resvd1 field can point at it. Null clears it.
void setContextForEntry(HostContext* context);

// Calling thread only: marks the current thread as the host's audio thread, so that
// audioMasterGetCurrentProcessLevel answers "real time" on it.
void markAudioThread(bool isAudioThread);

} // namespace kelvatone::host
