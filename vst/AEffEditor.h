// The editor base that the effect layer talks to: links an editor to its effect,
// remembers the host's parent window, and gives every editor operation a neutral
// default. UI thread, except where an override says otherwise.
#pragma once

#include "vst/AEffect.h"

#include <cstdint>

namespace kelvatone::vst {

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* editedEffect) : effect(editedEffect) {}
    virtual ~AEffEditor() = default;

    virtual AudioEffect* getEffect() { return effect; }
    virtual bool getRect(ERect** rect) {
        *rect = nullptr;
        return false;
    }
    virtual bool open(void* parent) {
        systemWindow = parent;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool onWheel(float) { return false; }
    virtual bool setKnobMode(int32_t) { return false; }

protected:
    AudioEffect* effect = nullptr;
    void* systemWindow = nullptr;
};

} // namespace kelvatone::vst
