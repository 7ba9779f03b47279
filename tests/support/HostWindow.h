// The host's side of an editor: a top-level window to open it in, plain child windows,
// and a memory drawing surface of the display's size (640 x 360) standing in for a
// window's back buffer.
// Both on the thread that makes them, as window and drawing calls are.
#pragma once

#include "editor/PictureSurface.h"
#include "editor/platform/Win32.h"

#include <cstdint>
#include <vector>

namespace kelvatone::testsupport {

// A top-level window standing in for the host's editor window; null where windows
// cannot be created (Linux without an X display).
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND handle() const { return window; }

private:
    HWND window = nullptr;
};

// A plain visible 640 x 360 child window of a class with the default procedure, for
// tests that need a window of the platform's window services. DestroyWindow ends it.
HWND createPlainChild(HWND parent);

// Whether this process can create windows (on Linux: an X display is reachable).
bool windowsAvailable();

// A memory device context with a 640 x 360 bitmap compatible with the screen (the
// display's PictureSurface), whose pixels the tests read as a whole.
class PixelSurface : public editor::PictureSurface {
public:
    std::vector<uint32_t> pixels() const;
};

// Reads the 640 x 360 pixels of a bitmap as 0x00RRGGBB values, row by row.
std::vector<uint32_t> readBitmap(HBITMAP bitmap);

} // namespace kelvatone::testsupport
