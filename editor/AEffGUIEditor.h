// The editor base of GUI editors: the rectangle reported to the host, registration
// with the effect, OLE for the editor's lifetime, a paced idle pump, and forwarding
// of key, wheel and idle events to an optional ViewFrame.
//
// Threads: the host's UI thread for every operation, the constructor and destructor
// on the thread that creates and destroys the effect.
#pragma once

#include "editor/ViewFrame.h"
#include "vst/AEffEditor.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::editor {

// Milliseconds from now until due on the GetTickCount clock, which wraps at 2^32:
// positive while due lies ahead, zero or negative once it has passed. Right for any
// two ticks less than 2^31 ms (24 days) apart, also across the wrap.
inline int32_t ticksUntil(uint32_t due, uint32_t now) {
    return static_cast<int32_t>(due - now);
}

class AEffGUIEditor : public vst::AEffEditor {
public:
    // Pacing of runIdleCycle: the period, the pause of an early call, and how early a
    // call may be after that pause and still run.
    static constexpr uint32_t kIdlePeriodMs = 100;
    static constexpr uint32_t kEarlyIdlePauseMs = 4;
    static constexpr int32_t kIdleSlackMs = 50;

    // Attaches this editor to the effect (which then owns it) and initialises OLE.
    explicit AEffGUIEditor(vst::AudioEffect* effect);
    ~AEffGUIEditor() override;

    bool getRect(vst::ERect** out) override;
    void idle() override;
    bool onKeyDown(vst::VstKeyCode& key) override;
    bool onKeyUp(vst::VstKeyCode& key) override;
    bool onWheel(float distance) override;
    bool setKnobMode(int32_t mode) override;

    // For the controls of a ViewFrame.
    virtual void setParameter(int32_t index, float value);
    virtual void beginEdit(int32_t index);
    virtual void endEdit(int32_t index);
    // The idle pump: runs idle, one pending paint and the host's idle at most about
    // every kIdlePeriodMs.
    virtual void runIdleCycle();

    // The knob mode last set by any editor of the process. Any thread.
    static int32_t knobMode() { return knobModeSetting.load(std::memory_order_relaxed); }

protected:
    vst::ERect rect{};
    // The tick from which the next idle cycle may run.
    uint32_t lastIdleTicks = 0;
    // Set only while runIdleCycle waits for the host's idle.
    bool inIdleCycle = false;
    ViewFrame* viewFrame = nullptr;

private:
    // Process-wide; written by setKnobMode on any editor's UI thread, read by anyone.
    static std::atomic<int32_t> knobModeSetting;
};

} // namespace kelvatone::editor
