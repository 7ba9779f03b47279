// The optional top-level view container that the editor base forwards key, wheel and
// idle events to. The display editor draws its window itself and never attaches one;
// the interface is here for editors built from views and controls.
#pragma once

#include "vst/AEffect.h"

#include <cstdint>

namespace kelvatone::editor {

class CDrawContext;

// A point in pixels.
struct CPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// A rectangle in pixels; right and bottom lie just outside it.
struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Key answers: exactly this value means the frame used the key.
constexpr int32_t kKeyUsed = 1;

// UI thread.
class ViewFrame {
public:
    virtual ~ViewFrame() = default;

    virtual int32_t onKeyDown(vst::VstKeyCode& key) = 0;
    virtual int32_t onKeyUp(vst::VstKeyCode& key) = 0;
    // where: the cursor relative to the editor window's top-left corner.
    virtual bool onWheel(CDrawContext* context, const CPoint& where, float distance) = 0;
    virtual void idle() = 0;
    virtual void getViewSize(CRect& size) = 0;
};

} // namespace kelvatone::editor
