#include "tests/support/HostWindow.h"

#include "editor/DisplayRenderer.h"

#include <cstring>

#ifndef _WIN32
#include <X11/Xlib.h>
#endif

namespace fakehost {

std::vector<uint32_t> readBitmap(HBITMAP bitmap) {
    std::vector<uint32_t> image(static_cast<size_t>(display::kWidth) * display::kHeight);
    const LONG bytes = static_cast<LONG>(image.size() * sizeof(uint32_t));
    GetBitmapBits(bitmap, bytes, image.data());
    for (uint32_t& pixel : image)
        pixel &= 0x00FFFFFF;
    return image;
}

PixelSurface::PixelSurface() {
    HDC screen = GetDC(nullptr);
    surfaceDc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, display::kWidth, display::kHeight);
    ReleaseDC(nullptr, screen);
    previousBitmap = SelectObject(surfaceDc, bitmap);
}

PixelSurface::~PixelSurface() {
    SelectObject(surfaceDc, previousBitmap);
    DeleteDC(surfaceDc);
    DeleteObject(bitmap);
}

std::vector<uint32_t> PixelSurface::pixels() const {
    return readBitmap(bitmap);
}

#ifdef _WIN32

namespace {
const char kHostClassName[] = "kelvatone-test-host";

void registerHostClass() {
    static const bool registered = [] {
        WNDCLASSA windowClass;
        std::memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kHostClassName;
        return RegisterClassA(&windowClass) != 0;
    }();
    (void)registered;
}
} // namespace

HostWindow::HostWindow() {
    registerHostClass();
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

} // namespace fakehost
