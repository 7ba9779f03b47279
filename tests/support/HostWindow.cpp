#include "tests/support/HostWindow.h"

#include "editor/DisplayRenderer.h"

#include <cstring>

#ifndef _WIN32
#include <X11/Xlib.h>
#endif

using namespace kelvatone::editor;

namespace kelvatone::testsupport {

std::vector<uint32_t> readBitmap(HBITMAP bitmap) {
    std::vector<uint32_t> image(static_cast<size_t>(kWidth) * kHeight);
    const LONG bytes = static_cast<LONG>(image.size() * sizeof(uint32_t));
    GetBitmapBits(bitmap, bytes, image.data());
    for (uint32_t& pixel : image)
        pixel &= 0x00FFFFFF;
    return image;
}

std::vector<uint32_t> PixelSurface::pixels() const {
    return readBitmap(surfaceBitmap());
}

namespace {

// Registers a window class of that name with the default window procedure.
bool registerPlainClass(const char* name) {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

HWND createPlainChild(HWND parent) {
    static const char kChildClassName[] = "kelvatone-test-child";
    static const bool registered = registerPlainClass(kChildClassName);
    (void)registered;
    return CreateWindowExA(0, kChildClassName, "child", WS_CHILD | WS_VISIBLE, 10, 20, kWidth,
                           kHeight, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
}

#ifdef _WIN32

namespace {
const char kHostClassName[] = "kelvatone-test-host";
} // namespace

HostWindow::HostWindow() {
    static const bool registered = registerPlainClass(kHostClassName);
    (void)registered;
    window = CreateWindowExA(0, kHostClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 420,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HostWindow::~HostWindow() {
    if (window)
        DestroyWindow(window);
}

bool windowsAvailable() {
    return true;
}

#else

namespace {
// The test process's own connection, standing in for the host's.
Display* hostDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}
} // namespace

HostWindow::HostWindow() {
    Display* display = hostDisplay();
    if (!display)
        return;
    const ::Window xWindow =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 700, 420, 0, 0, 0);
    XMapWindow(display, xWindow);
    XSync(display, False);
    window = reinterpret_cast<HWND>(static_cast<uintptr_t>(xWindow));
}

HostWindow::~HostWindow() {
    if (!window)
        return;
    XDestroyWindow(hostDisplay(), static_cast<::Window>(reinterpret_cast<uintptr_t>(window)));
    XSync(hostDisplay(), False);
}

bool windowsAvailable() {
    return hostDisplay() != nullptr;
}

#endif

} // namespace kelvatone::testsupport
