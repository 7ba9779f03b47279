// X input events as the window messages of Win32: mouse buttons, the wheel, pointer
// motion and keys. Pure functions of the event (keys excepted, whose symbol comes
// from the event's connection); any thread that may use the event's connection.
#pragma once

#include <X11/Xlib.h>

#include "editor/platform/linux/Win32Layer.h"

namespace kelvatone::platform {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Turns one X event into a window message; false for events that make none.
// - Buttons 1, 2, 3: WM_[LMR]BUTTONDOWN / UP with the MK_ key state and the point
//   in client coordinates.
// - Buttons 4 and 5 (wheel up, down): WM_MOUSEWHEEL on the press only, with
//   +/-WHEEL_DELTA in the high word of wParam and the point in screen coordinates.
// - Motion: WM_MOUSEMOVE; keys: WM_KEYDOWN / WM_KEYUP with the virtual-key code
//   (letters and digits as their upper-case characters, a few control keys, 0 for
//   the rest) and a repeat count of 1.
bool messageOf(XEvent& event, Message& out);

} // namespace kelvatone::platform
