// Test doubles for the base effect classes: a host callback that records every
// request and answers what the test sets, a minimal concrete effect that counts its
// destructions, and an editor that records the calls it receives.
#pragma once

#include "vst/AEffEditor.h"
#include "vst/AudioEffectX.h"

#include <cstdint>
#include <map>
#include <vector>

struct HostRequest {
    kelvatone::vst::AEffect* effect;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
};

// One recording host per test process; tests reset it in SetUp.
struct RecordingHost {
    std::vector<HostRequest> requests;
    std::map<int32_t, intptr_t> answers; // opcode -> answer; 0 when absent

    void reset() {
        requests.clear();
        answers.clear();
    }
    std::vector<HostRequest> requestsWith(int32_t opcode) const {
        std::vector<HostRequest> found;
        for (const HostRequest& request : requests) {
            if (request.opcode == opcode) {
                found.push_back(request);
            }
        }
        return found;
    }
};

inline RecordingHost& recordingHost() {
    static RecordingHost host;
    return host;
}

inline intptr_t KELVATONE_VST_CALL recordingCallback(kelvatone::vst::AEffect* effect,
                                                     int32_t opcode, int32_t index, intptr_t value,
                                                     void* ptr, float opt) {
    RecordingHost& host = recordingHost();
    host.requests.push_back({effect, opcode, index, value, ptr, opt});
    const auto answer = host.answers.find(opcode);
    return answer == host.answers.end() ? 0 : answer->second;
}

// The smallest concrete effect: the base behaviour everywhere except that it can be
// told its can-do answer, counts destructions, and lets tests reach the state.
class TestEffect : public kelvatone::vst::AudioEffectX {
public:
    static inline int destructions = 0;

    explicit TestEffect(kelvatone::vst::audioMasterCallback master = recordingCallback,
                        int32_t programs = 1, int32_t params = 6)
        : AudioEffectX(master, programs, params) {}
    ~TestEffect() override { ++destructions; }

    void processReplacing(float**, float**, int32_t) override {}
    int32_t canDo(const char* text) override {
        lastCanDoText = text;
        return canDoAnswer;
    }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return cEffect.dispatcher(&cEffect, opcode, index, value, ptr, opt);
    }
    kelvatone::vst::AEffect& record() { return cEffect; }
    using kelvatone::vst::AudioEffect::setFlag;

    int32_t canDoAnswer = 0;
    const char* lastCanDoText = nullptr;
};

// Records what the dispatcher hands the editor.
class RecordingEditor : public kelvatone::vst::AEffEditor {
public:
    static inline int destructions = 0;

    explicit RecordingEditor(kelvatone::vst::AudioEffect* edited)
        : kelvatone::vst::AEffEditor(edited) {}
    ~RecordingEditor() override { ++destructions; }

    bool getRect(kelvatone::vst::ERect** out) override {
        ++getRectCalls;
        *out = &rect;
        return true;
    }
    bool open(void* parent) override {
        openedWith = parent;
        return true;
    }
    void close() override { ++closeCalls; }
    void idle() override { ++idleCalls; }
    bool onKeyDown(kelvatone::vst::VstKeyCode& key) override {
        keyDown.push_back(key);
        return keyAnswer;
    }
    bool onKeyUp(kelvatone::vst::VstKeyCode& key) override {
        keyUp.push_back(key);
        return keyAnswer;
    }
    bool setKnobMode(int32_t mode) override {
        knobMode = mode;
        return true;
    }

    kelvatone::vst::ERect rect{0, 0, 360, 640};
    int getRectCalls = 0;
    void* openedWith = nullptr;
    int closeCalls = 0;
    int idleCalls = 0;
    bool keyAnswer = false;
    std::vector<kelvatone::vst::VstKeyCode> keyDown;
    std::vector<kelvatone::vst::VstKeyCode> keyUp;
    int32_t knobMode = -1;
};
