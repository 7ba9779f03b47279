// X input events as window messages (see the header).
#include "editor/window/linux/EventTranslation.h"

#include <X11/Xutil.h>

namespace kelvatone::platform {
namespace {

constexpr unsigned kWheelUpButton = 4, kWheelDownButton = 5;

WPARAM keyStateOf(unsigned int state) {
    WPARAM keys = 0;
    if (state & Button1Mask)
        keys |= MK_LBUTTON;
    if (state & Button2Mask)
        keys |= MK_MBUTTON;
    if (state & Button3Mask)
        keys |= MK_RBUTTON;
    if (state & ShiftMask)
        keys |= MK_SHIFT;
    if (state & ControlMask)
        keys |= MK_CONTROL;
    return keys;
}

LPARAM pointOf(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

// Win32 virtual-key code of a key event: letters and digits as their upper-case
// characters, a few control keys, 0 for the rest.
WPARAM virtualKeyOf(XKeyEvent& event) {
    const KeySym sym = XLookupKeysym(&event, 0);
    if (sym >= 'a' && sym <= 'z')
        return sym - 'a' + 'A';
    if ((sym >= '0' && sym <= '9') || sym == ' ')
        return sym;
    switch (sym) {
    case 0xFF08:
        return 0x08; // BackSpace: VK_BACK
    case 0xFF09:
        return 0x09; // Tab: VK_TAB
    case 0xFF0D:
        return 0x0D; // Return: VK_RETURN
    case 0xFF1B:
        return 0x1B; // Escape: VK_ESCAPE
    case 0xFF51:
        return 0x25; // Left: VK_LEFT
    case 0xFF52:
        return 0x26; // Up: VK_UP
    case 0xFF53:
        return 0x27; // Right: VK_RIGHT
    case 0xFF54:
        return 0x28; // Down: VK_DOWN
    default:
        return 0;
    }
}

} // namespace

bool messageOf(XEvent& event, Message& out) {
    switch (event.type) {
    case ButtonPress:
    case ButtonRelease: {
        const XButtonEvent& b = event.xbutton;
        const bool press = event.type == ButtonPress;
        if (b.button == kWheelUpButton || b.button == kWheelDownButton) {
            if (!press)
                return false;
            const int delta = b.button == kWheelUpButton ? WHEEL_DELTA : -WHEEL_DELTA;
            out = {WM_MOUSEWHEEL, MAKEWPARAM(keyStateOf(b.state), static_cast<WORD>(delta)),
                   pointOf(b.x_root, b.y_root)};
            return true;
        }
        UINT message;
        if (b.button == Button1)
            message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        else if (b.button == Button2)
            message = press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        else if (b.button == Button3)
            message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        else
            return false;
        out = {message, keyStateOf(b.state), pointOf(b.x, b.y)};
        return true;
    }
    case MotionNotify:
        out = {WM_MOUSEMOVE, keyStateOf(event.xmotion.state),
               pointOf(event.xmotion.x, event.xmotion.y)};
        return true;
    case KeyPress:
    case KeyRelease:
        out = {static_cast<UINT>(event.type == KeyPress ? WM_KEYDOWN : WM_KEYUP),
               virtualKeyOf(event.xkey), 1};
        return true;
    default:
        return false;
    }
}

} // namespace kelvatone::platform
