#include "editor/AEffGUIEditor.h"

#include "editor/CDrawContext.h"
#include "editor/platform/Win32.h"
#include "vst/AudioEffectX.h"

using namespace kelvatone::vst;

namespace kelvatone::editor {

std::atomic<int32_t> AEffGUIEditor::knobModeSetting{0};

AEffGUIEditor::AEffGUIEditor(AudioEffect* editedEffect) : AEffEditor(editedEffect) {
    lastIdleTicks = GetTickCount();
    if (effect)
        effect->setEditor(this);
    OleInitialize(nullptr);
}

AEffGUIEditor::~AEffGUIEditor() {
    OleUninitialize();
}

bool AEffGUIEditor::getRect(ERect** out) {
    *out = &rect;
    return true;
}

void AEffGUIEditor::idle() {
    if (inIdleCycle)
        return;
    if (viewFrame)
        viewFrame->idle();
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key) {
    return viewFrame && viewFrame->onKeyDown(key) == kKeyUsed;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& key) {
    return viewFrame && viewFrame->onKeyUp(key) == kKeyUsed;
}

bool AEffGUIEditor::onWheel(float distance) {
    if (!viewFrame)
        return false;
    HWND window = static_cast<HWND>(systemWindow);
    CDrawContext context(viewFrame, nullptr, window);
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    const CPoint origin = context.getWindowOrigin();
    const CPoint where{cursor.x - origin.x, cursor.y - origin.y};
    return viewFrame->onWheel(&context, where, distance);
}

bool AEffGUIEditor::setKnobMode(int32_t mode) {
    knobModeSetting.store(mode, std::memory_order_relaxed);
    return true;
}

void AEffGUIEditor::setParameter(int32_t, float) {}

void AEffGUIEditor::beginEdit(int32_t index) {
    if (auto* extended = dynamic_cast<AudioEffectX*>(effect))
        extended->beginEdit(index);
}

void AEffGUIEditor::endEdit(int32_t index) {
    if (auto* extended = dynamic_cast<AudioEffectX*>(effect))
        extended->endEdit(index);
}

void AEffGUIEditor::runIdleCycle() {
    // The ticks are compared by their wrapping difference, so the pacing holds when
    // the clock wraps after 49.7 days: an early call stays early and a late one late.
    uint32_t now = GetTickCount();
    if (ticksUntil(lastIdleTicks, now) > 0) {
        Sleep(kEarlyIdlePauseMs);
        now += kEarlyIdlePauseMs;
        if (ticksUntil(lastIdleTicks, now) > kIdleSlackMs)
            return;
    }
    idle();
    MSG message;
    if (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&message);
    lastIdleTicks = now + kIdlePeriodMs;
    inIdleCycle = true;
    if (effect)
        effect->masterIdle();
    inIdleCycle = false;
}

} // namespace kelvatone::editor
