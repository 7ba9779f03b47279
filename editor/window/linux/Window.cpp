// USER32 of our Linux layer: window classes and X11 child windows, their user data,
// invalidation and timers, their rectangles, and the copy of pixels onto a window
// (the half of BitBlt that reaches the screen, for the GDI part).
//
// Each window has its own X display connection and its own thread (WindowThread.h),
// which alone reads that connection's events and calls the window procedure
// (WM_CREATE and WM_DESTROY excepted, see Win32Layer.h). The connection is also
// used by BitBlt onto the window, from any thread, under the window's connection
// mutex. The table of classes and windows and its locks: WindowTable.h; the
// connections and X error handling: XConnections.h.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "editor/platform/linux/Win32Layer.h"
#include "editor/platform/linux/WindowBridge.h"
#include "editor/window/linux/WindowTable.h"
#include "editor/window/linux/WindowThread.h"
#include "editor/window/linux/XConnections.h"

namespace kelvatone::platform {
namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask;

bool isAtom(LPCSTR name) {
    return reinterpret_cast<std::uintptr_t>(name) <= 0xFFFF;
}

int shiftOf(unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1))
        mask >>= 1, ++shift;
    return shift;
}

int bitsOf(unsigned long mask) {
    int bits = 0;
    for (; mask; mask >>= 1)
        bits += mask & 1;
    return bits;
}

unsigned long convertPixel(std::uint32_t pixel, const PixelFormat& f) {
    auto channel = [](std::uint32_t value8, unsigned long mask) {
        const int bits = bitsOf(mask);
        return ((static_cast<unsigned long>(value8) >> (8 - std::min(bits, 8))) << shiftOf(mask)) &
               mask;
    };
    return channel(pixel >> 16 & 0xFF, f.redMask) | channel(pixel >> 8 & 0xFF, f.greenMask) |
           channel(pixel & 0xFF, f.blueMask);
}

PixelFormat pixelFormatOf(Display* display, Visual* visual, int depth) {
    PixelFormat f;
    f.trueColour = visual->c_class == TrueColor;
    f.redMask = visual->red_mask;
    f.greenMask = visual->green_mask;
    f.blueMask = visual->blue_mask;
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    int bitsPerPixel = 0;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth)
            bitsPerPixel = formats[i].bits_per_pixel;
    if (formats)
        XFree(formats);
    f.directBgrx = f.trueColour && bitsPerPixel == 32 && f.redMask == 0xFF0000 &&
                   f.greenMask == 0xFF00 && f.blueMask == 0xFF &&
                   ImageByteOrder(display) == LSBFirst;
    return f;
}

// Tears down everything of a window that failed during creation.
void abandonCreation(Display* display, ::Window xWindow) {
    if (xWindow) {
        XDestroyWindow(display, xWindow);
        XSync(display, False);
    }
    closeConnection(display);
}

bool resolveParent(Display* display, HWND parent, ::Window& xParent,
                   XWindowAttributes& attributes) {
    if (WindowSlot* slot = slotOf(parent)) {
        std::lock_guard<std::mutex> lock(windowMutex);
        xParent = slot->state ? slot->state->xWindow : 0;
    } else {
        xParent = static_cast<::Window>(reinterpret_cast<std::uintptr_t>(parent));
    }
    if (!xParent)
        return false;
    const Status status = XGetWindowAttributes(display, xParent, &attributes);
    return syncSucceeded(display) && status != 0;
}

bool windowClientSize(HWND window, int& width, int& height) {
    const WindowSlot* slot = slotOf(window);
    if (!slot)
        return false;
    width = slot->width.load();
    height = slot->height.load();
    return true;
}

bool presentToWindow(HWND window, int x, int y, int width, int height,
                     const raster::Surface& source, int sourceX, int sourceY) {
    // Clip to the source: the window clips the rest itself.
    const int cutLeft = std::max({0, -sourceX, -x}), cutTop = std::max({0, -sourceY, -y});
    x += cutLeft, sourceX += cutLeft, width -= cutLeft;
    y += cutTop, sourceY += cutTop, height -= cutTop;
    width = std::min(width, source.width - sourceX);
    height = std::min(height, source.height - sourceY);
    // The window's own thread keeps its state alive; any other thread holds the
    // registry so that DestroyWindow cannot free the state meanwhile.
    std::unique_lock<std::mutex> registry(windowMutex, std::defer_lock);
    WindowState* state = windowOfThisThread();
    if (!state || state->handle != window) {
        registry.lock();
        WindowSlot* slot = slotOf(window);
        if (!slot || !slot->state)
            return false;
        state = slot->state;
    }
    if (width <= 0 || height <= 0)
        return true;
    if (!state->format.trueColour || connectionBroken(state->display))
        return false;
    std::lock_guard<std::mutex> lock(state->connectionMutex);
    XImage* image;
    if (state->format.directBgrx) {
        image = XCreateImage(state->display, state->visual, state->depth, ZPixmap, 0,
                             reinterpret_cast<char*>(source.pixels), source.width, source.height,
                             32, source.width * 4);
        if (!image)
            return false;
        XPutImage(state->display, state->xWindow,
                  DefaultGC(state->display, DefaultScreen(state->display)), image, sourceX, sourceY,
                  x, y, width, height);
        image->data = nullptr; // the pixels belong to the bitmap
    } else {
        image = XCreateImage(state->display, state->visual, state->depth, ZPixmap, 0, nullptr,
                             width, height, 32, 0);
        if (!image)
            return false;
        image->data = static_cast<char*>(std::calloc(image->bytes_per_line, height));
        if (!image->data) {
            XDestroyImage(image);
            return false;
        }
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                XPutPixel(
                    image, column, row,
                    convertPixel(source.pixels[(sourceY + row) * source.width + sourceX + column],
                                 state->format));
        XPutImage(state->display, state->xWindow,
                  DefaultGC(state->display, DefaultScreen(state->display)), image, 0, 0, x, y,
                  width, height);
    }
    XDestroyImage(image);
    XFlush(state->display);
    return true;
}

// What the drawing library reaches of this window part.
constexpr WindowServices kX11WindowServices{windowClientSize, presentToWindow};

} // namespace

} // namespace kelvatone::platform

using namespace kelvatone::platform;

// ---- USER32 ----

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
        isAtom(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    installWindowServices(&kX11WindowServices);
    ATOM atom = 0;
    const DWORD error = addWindowClass(*windowClass, atom);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return 0;
    }
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    reapFinishedWindows();
    if (!className || isAtom(className)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD error = removeWindowClass(className, instance);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    static int arrowCursor;
    if (instance || cursorName != IDC_ARROW)
        return nullptr;
    return reinterpret_cast<HCURSOR>(&arrowCursor);
}

// Creates a child of parent, which is an X11 window id (as a host passes to the
// editor) or a window of ours. Only child windows are supported.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    reapFinishedWindows();
    const WNDPROC procedure =
        className && !isAtom(className) ? classProcedure(className, instance) : nullptr;
    if (!procedure) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (!(style & WS_CHILD) || !parent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    Display* display = openConnection();
    if (!display) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    ::Window xParent = 0;
    XWindowAttributes parentAttributes{};
    if (!resolveParent(display, parent, xParent, parentAttributes)) {
        abandonCreation(display, 0);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    width = std::max(width, 1);
    height = std::max(height, 1);
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // no erase: every paint copies the whole picture
    attributes.event_mask = kEventMask;
    const ::Window xWindow = XCreateWindow(
        display, xParent, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    if (style & WS_VISIBLE)
        XMapWindow(display, xWindow);
    if (!syncSucceeded(display)) {
        abandonCreation(display, xWindow);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }

    auto state = std::make_unique<WindowState>();
    state->display = display;
    state->xWindow = xWindow;
    state->procedure = procedure;
    state->className = className;
    state->instance = instance;
    state->visual = parentAttributes.visual;
    state->depth = parentAttributes.depth;
    state->format = pixelFormatOf(display, state->visual, state->depth);

    WindowSlot* slot = claimSlot(*state, width, height);
    if (!slot) {
        abandonCreation(display, xWindow);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    countClassWindow(state->className, instance, +1);

    CREATESTRUCTA create{
        param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    const HWND window = state->handle;
    WindowState* raw = state.release();
    if (procedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    raw->thread = std::thread(runWindow, raw, slot);
    return window;
}

// Stops the window's thread and waits for it, sends WM_DESTROY on the calling
// thread, and only then destroys the X window. Called on the window's own thread
// (from its window procedure) it cannot wait for itself: the thread ends after
// the procedure returns. The window procedure must not wait for the caller.
BOOL DestroyWindow(HWND window) {
    WindowSlot* slot = slotOf(window);
    if (!slot || slot->destroying.exchange(true)) {
        reapFinishedWindows();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    WindowState* state;
    {
        std::lock_guard<std::mutex> lock(windowMutex);
        state = slot->state;
    }
    state->stopRequested.store(true);
    const bool ownThread = state == windowOfThisThread();
    if (!ownThread && state->thread.joinable())
        state->thread.join();
    state->procedure(window, WM_DESTROY, 0, 0);
    retireWindow(*slot);
    if (!ownThread)
        reapFinishedWindows();
    return TRUE;
}

BOOL IsWindow(HWND window) {
    return slotOf(window) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    WindowSlot* slot = slotOf(window);
    if (!slot || index != GWLP_USERDATA) {
        SetLastError(slot ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return slot->userData.exchange(value);
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
    const WindowSlot* slot = slotOf(window);
    if (!slot || index != GWLP_USERDATA) {
        SetLastError(slot ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return slot->userData.load();
}

// Any thread, the audio thread included: one atomic store, nothing else. The
// whole window is repainted whatever rect says; there is no background to erase.
BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    WindowSlot* slot = slotOf(window);
    if (!slot)
        return FALSE;
    slot->dirty.store(true, std::memory_order_release);
    return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
    WindowSlot* slot = slotOf(window);
    if (!slot || procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    slot->timerId.store(id, std::memory_order_relaxed);
    // Windows raises periods below its minimum to it; here the loop sets the pace.
    slot->timerPeriod.store(std::max<UINT>(elapse, 1), std::memory_order_release);
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    WindowSlot* slot = slotOf(window);
    if (!slot || slot->timerPeriod.load() == 0 || slot->timerId.load() != id)
        return FALSE;
    slot->timerPeriod.store(0, std::memory_order_release);
    return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    if (!rect)
        return FALSE;
    *rect = RECT{0, 0, 0, 0};
    ::Window xWindow = 0;
    {
        std::lock_guard<std::mutex> lock(windowMutex);
        const WindowSlot* slot = slotOf(window);
        if (!slot || !slot->state) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        xWindow = slot->state->xWindow;
    }
    const QueryConnection query;
    Display* display = query.display();
    if (!display)
        return FALSE;
    keepErrorHandler();
    XWindowAttributes attributes{};
    int left = 0, top = 0;
    ::Window child = 0;
    const Status status = XGetWindowAttributes(display, xWindow, &attributes);
    const Bool translated = status && XTranslateCoordinates(display, xWindow, attributes.root, 0, 0,
                                                            &left, &top, &child);
    if (!syncSucceeded(display) || !translated)
        return FALSE;
    *rect = RECT{left, top, left + attributes.width, top + attributes.height};
    return TRUE;
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point)
        return FALSE;
    *point = POINT{0, 0};
    const QueryConnection query;
    Display* display = query.display();
    if (!display)
        return FALSE;
    ::Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &x, &y,
                       &mask))
        return FALSE;
    *point = POINT{rootX, rootY};
    return TRUE;
}

// Messages of our windows are sent on each window's own thread, so the calling
// thread's queue is always empty.
BOOL PeekMessageA(LPMSG, HWND, UINT, UINT, UINT) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG*) {
    return 0;
}
