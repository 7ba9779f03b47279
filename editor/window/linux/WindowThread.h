// The thread of each window of the Linux layer: it alone reads the window's X
// connection, turns its events into window messages, sends WM_TIMER when the
// window's timer is due and WM_PAINT after an exposure or an InvalidateRect, and
// calls the window procedure with them.
#pragma once

#include "editor/window/linux/WindowTable.h"

namespace kelvatone::platform {

// How often a window thread looks for invalidations and timers when no X event
// arrives; also the shortest timer period in effect.
constexpr int kWindowPollMilliseconds = 15;

// The body of the window's thread, started by CreateWindowExA after WM_CREATE.
// Returns once DestroyWindow has asked it to stop. When the X window goes away
// without DestroyWindow (the host destroyed our parent, or the X connection was
// lost) the procedure hears WM_DESTROY on this thread and the window is retired.
void runWindow(WindowState* state, WindowSlot* slot);

} // namespace kelvatone::platform
