// What the GDI part of the layer needs from a window part: window sizes for paint
// structures and the copy of pixels to a window's screen. The drawing library builds
// without any window system; a window part (X11 on Linux) installs its services when
// a window class is first registered. Until then no window exists, so GetDC and
// BeginPaint of a window fail and nothing is presented.
#pragma once

#include "editor/platform/linux/Raster.h"
#include "editor/platform/linux/Win32Layer.h"

namespace kelvatone::platform {

struct WindowServices {
    // Client size of a live window; false for an invalid handle. Any thread.
    bool (*clientSize)(HWND window, int& width, int& height);
    // Copies width x height pixels from (sourceX, sourceY) of source to (x, y) of the
    // window. Not real-time (a request to the window system); any thread.
    bool (*present)(HWND window, int x, int y, int width, int height, const raster::Surface& source,
                    int sourceX, int sourceY);
};

// Makes `services` (static storage, never null) the window part's. Any thread; the
// services are published with a release store and read with acquire loads.
void installWindowServices(const WindowServices* services);

} // namespace kelvatone::platform
