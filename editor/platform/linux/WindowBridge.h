// What the GDI part of the layer needs from the window part: window sizes for
// paint structures and the copy of pixels to a window's screen.
#pragma once

#include "editor/platform/linux/Raster.h"
#include "editor/platform/linux/Win32Layer.h"

namespace kelvatone::platform {

// Client size of a live window; false for an invalid handle. Any thread.
bool windowClientSize(HWND window, int& width, int& height);

// Copies width x height pixels from (sourceX, sourceY) of source to (x, y) of the
// window. Not real-time (an X11 request); any thread.
bool presentToWindow(HWND window, int x, int y, int width, int height,
                     const raster::Surface& source, int sourceX, int sourceY);

} // namespace kelvatone::platform
