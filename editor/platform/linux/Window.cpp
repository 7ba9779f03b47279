// USER32, KERNEL32 and OLE32 of our Linux layer: window classes, X11 child
// windows with a thread each, the millisecond clock and the no-op OLE calls.
//
// Each window has its own X display connection and its own thread, which alone
// reads that connection's events and calls the window procedure (WM_CREATE and
// WM_DESTROY excepted, see the header). The connection is also used by BitBlt onto
// the window, from any thread, under the window's connection mutex. With every
// connection confined to one thread at a time the layer needs no XInitThreads (a
// process-wide switch that is only safe before any other Xlib call of the host);
// libX11 1.8 and later initialise Xlib's own locking at load anyway.
//
// X errors on our connections (a BadWindow once the host has destroyed the parent
// window, for instance) are swallowed by an error handler that passes errors of
// every other connection on to the handler that was installed before ours, and an
// I/O error on one of our connections ends that window instead of the process.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "editor/platform/linux/Win32Layer.h"
#include "editor/platform/linux/WindowBridge.h"

namespace kelvatone::win32 {
namespace {

constexpr std::size_t kMaxWindows = 64;
constexpr std::size_t kMaxDisplays = kMaxWindows + 1; // one per window, one for queries
// Sets window handles apart from X window ids (29 bits) and GDI handles.
constexpr std::uintptr_t kWindowHandleTag = std::uintptr_t{1} << 62;
constexpr int kGenerationShift = 8;
constexpr std::uintptr_t kIndexMask = 0xFF;
static_assert(kMaxWindows <= kIndexMask, "window index fits below the generation");
// How often a window thread looks for invalidations when no X event arrives.
constexpr int kPollMilliseconds = 15;
constexpr ATOM kFirstClassAtom = 0xC000;
constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask;
constexpr unsigned kWheelUpButton = 4, kWheelDownButton = 5;

// ---- Our display connections, as the X error handlers see them ----

struct DisplayEntry {
    std::atomic<Display*> display{nullptr}; // written under displayMutex, read by handlers
    std::atomic<int> lastError{0};          // written by the error handler, read by owner
    std::atomic<bool> broken{false};        // written by the I/O error handler
};
DisplayEntry displays[kMaxDisplays];
std::mutex displayMutex;
// The handler that ours passes other connections' errors to: the one that was
// installed when ours last went in. Written by whichever thread re-installs
// ours, read by the handler on any thread.
std::atomic<XErrorHandler> previousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> previousIoErrorHandler{nullptr}; // the same for I/O errors

// The connection of the window whose thread this is, on window threads.
thread_local Display* currentWindowDisplay = nullptr;

DisplayEntry* entryOf(Display* display) {
    for (DisplayEntry& entry : displays)
        if (entry.display.load(std::memory_order_acquire) == display)
            return &entry;
    return nullptr;
}

int onXError(Display* display, XErrorEvent* event) {
    if (DisplayEntry* entry = entryOf(display)) {
        entry->lastError.store(event->error_code, std::memory_order_relaxed);
        return 0;
    }
    const XErrorHandler previous = previousErrorHandler.load();
    return previous ? previous(display, event) : 0;
}

// A lost connection of ours: on the window's own thread the thread ends (its
// stack unwinds, and runWindow's guard retires the window), so that losing the X
// server does not take the host down with it. Elsewhere Xlib ends the process
// after the handler, as it does for the host's own connections.
void endLostConnection(Display* display) {
    entryOf(display)->broken.store(true);
    if (currentWindowDisplay == display)
        pthread_exit(nullptr);
}

int onXIoError(Display* display) {
    if (entryOf(display)) {
        endLostConnection(display);
        return 0;
    }
    const XIOErrorHandler previous = previousIoErrorHandler.load();
    return previous ? previous(display) : 0;
}

void onIoErrorExit(Display* display, void*) {
    if (entryOf(display))
        endLostConnection(display);
}

// Puts our handler in front of the process's current one. The host may install
// its own at any time (without passing ours on), so every window thread does this
// on each cycle, and so does window creation before its first request.
void keepErrorHandler() {
    const XErrorHandler replaced = XSetErrorHandler(onXError);
    if (replaced != onXError)
        previousErrorHandler.store(replaced);
    const XIOErrorHandler replacedIo = XSetIOErrorHandler(onXIoError);
    if (replacedIo != onXIoError)
        previousIoErrorHandler.store(replacedIo);
}

// Opens a connection of our own and registers it with the error handlers; null
// without an X server or when every entry is taken.
Display* openDisplay() {
    std::lock_guard<std::mutex> lock(displayMutex);
    auto free = std::find_if(std::begin(displays), std::end(displays), [](DisplayEntry& e) {
        return e.display.load(std::memory_order_relaxed) == nullptr;
    });
    if (free == std::end(displays))
        return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    keepErrorHandler();
    free->lastError.store(0);
    free->broken.store(false);
    free->display.store(display, std::memory_order_release);
    XSetIOErrorExitHandler(display, onIoErrorExit, nullptr);
    return display;
}

// Connections lost to an I/O error are kept, never closed: the thread that met
// the error ended inside Xlib, which may still hold the connection's lock.
// (never destroyed, so that they stay reachable to the end).
std::vector<Display*>& lostConnections() { // under displayMutex
    static auto* connections = new std::vector<Display*>;
    return *connections;
}

void closeDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(displayMutex);
    DisplayEntry* entry = entryOf(display);
    if (entry->broken.load())
        lostConnections().push_back(display);
    else
        XCloseDisplay(display);
    entry->display.store(nullptr, std::memory_order_release);
}

// Waits for the server to handle every request so far and tells whether any of
// them failed since the last call.
bool syncSucceeded(Display* display) {
    DisplayEntry* entry = entryOf(display);
    XSync(display, False);
    return entry->lastError.exchange(0) == 0 && !entry->broken.load();
}

// At unload, once no thread of ours is left: the handler before ours goes back,
// unless the host has put in another since.
void restoreErrorHandler() {
    std::lock_guard<std::mutex> lock(displayMutex);
    const XErrorHandler previous = previousErrorHandler.exchange(nullptr);
    if (!previous)
        return;
    const XErrorHandler current = XSetErrorHandler(previous);
    if (current != onXError)
        XSetErrorHandler(current);
    const XIOErrorHandler previousIo = previousIoErrorHandler.exchange(nullptr);
    const XIOErrorHandler currentIo = XSetIOErrorHandler(previousIo);
    if (currentIo != onXIoError)
        XSetIOErrorHandler(currentIo);
}

// ---- Classes ----

struct WindowClass {
    std::string name;
    HINSTANCE instance;
    WNDPROC procedure;
    int windows; // live windows of the class
};
std::mutex classMutex;
std::vector<WindowClass> classes; // under classMutex
ATOM nextAtom = kFirstClassAtom;  // under classMutex

bool isAtom(LPCSTR name) {
    return reinterpret_cast<std::uintptr_t>(name) <= 0xFFFF;
}

std::vector<WindowClass>::iterator findClass(LPCSTR name, HINSTANCE instance) {
    return std::find_if(classes.begin(), classes.end(), [&](const WindowClass& c) {
        return c.instance == instance && strcasecmp(c.name.c_str(), name) == 0;
    });
}

void countClassWindow(const std::string& name, HINSTANCE instance, int change) {
    std::lock_guard<std::mutex> lock(classMutex);
    auto found = findClass(name.c_str(), instance);
    if (found != classes.end())
        found->windows += change;
}

// ---- Windows ----

// The part of a window that the pixel format of its screen decides.
struct PixelFormat {
    bool directBgrx = false; // 32-bit TrueColor with masks 0xFF0000, 0xFF00, 0xFF
    bool trueColour = false;
    unsigned long redMask = 0, greenMask = 0, blueMask = 0;
};

struct WindowState {
    HWND handle = nullptr;
    Display* display = nullptr;
    ::Window xWindow = 0;
    WNDPROC procedure = nullptr;
    std::string className;
    HINSTANCE instance = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    PixelFormat format;
    std::mutex connectionMutex; // serialises requests on display between threads
    std::thread thread;
    std::atomic<bool> stopRequested{false}; // written by DestroyWindow, read by the thread
};

struct WindowSlot {
    // All written under windowMutex; generation, live, dirty, size and userData are
    // read without it by any thread.
    std::atomic<std::uint32_t> generation{0};
    std::atomic<bool> live{false};
    std::atomic<bool> destroying{false}; // set once by whoever takes the window down
    // Set by InvalidateRect (any thread, the audio thread included), taken by the
    // window's thread, which then sends WM_PAINT.
    std::atomic<bool> dirty{false};
    std::atomic<LONG_PTR> userData{0};
    // The window's timer: its id and period in ms (0: none). Written by SetTimer and
    // KillTimer on any thread, read by the window's thread.
    std::atomic<UINT_PTR> timerId{0};
    std::atomic<UINT> timerPeriod{0};
    std::atomic<int> width{0}, height{0}; // written by the window's thread
    WindowState* state = nullptr;         // under windowMutex
};
WindowSlot windowSlots[kMaxWindows];
std::mutex windowMutex;
std::vector<std::unique_ptr<WindowState>> finishedWindows; // under windowMutex
// The window whose thread this is, on window threads; null elsewhere.
thread_local WindowState* currentWindow = nullptr;

HWND makeHandle(std::size_t index, std::uint32_t generation) {
    return reinterpret_cast<HWND>(kWindowHandleTag |
                                  (std::uintptr_t{generation} << kGenerationShift) | index);
}

// The slot of a live window, or null. Lock-free.
WindowSlot* slotOf(HWND window) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(window);
    const std::uintptr_t index = value & kIndexMask;
    if (!(value & kWindowHandleTag) || index >= kMaxWindows)
        return nullptr;
    WindowSlot& slot = windowSlots[index];
    const auto generation =
        static_cast<std::uint32_t>((value & ~kWindowHandleTag) >> kGenerationShift);
    if (!slot.live.load(std::memory_order_acquire) ||
        slot.generation.load(std::memory_order_relaxed) != generation)
        return nullptr;
    return &slot;
}

// Joins the threads of windows that ended and frees them.
void reapFinishedWindows() {
    std::vector<std::unique_ptr<WindowState>> done;
    {
        std::lock_guard<std::mutex> lock(windowMutex);
        done.swap(finishedWindows);
    }
    for (auto& state : done) {
        if (state.get() == currentWindow) {
            // A window procedure that destroyed its own window: its thread ends later.
            std::lock_guard<std::mutex> lock(windowMutex);
            finishedWindows.push_back(std::move(state));
            continue;
        }
        if (state->thread.joinable())
            state->thread.join();
        if (state->xWindow && !entryOf(state->display)->broken.load()) {
            XDestroyWindow(state->display, state->xWindow);
            XSync(state->display, False);
        }
        closeDisplay(state->display);
    }
}

// Ends the handle's life: no call reaches the window after this. The state is
// left for reapFinishedWindows.
void retireWindow(WindowSlot& slot) {
    std::lock_guard<std::mutex> lock(windowMutex);
    WindowState* state = slot.state;
    slot.live.store(false, std::memory_order_release);
    slot.userData.store(0);
    slot.state = nullptr;
    slot.destroying.store(false);
    finishedWindows.emplace_back(state);
    countClassWindow(state->className, state->instance, -1);
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

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Turns one X event into a window message; false for events that make none.
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

// What one look at the connection found.
struct EventBatch {
    std::vector<Message> messages;
    bool exposed = false;
    bool gone = false; // the X window was destroyed (with the host's parent) or the
                       // connection broke
};

void readEvents(WindowState& state, WindowSlot& slot, EventBatch& batch) {
    std::lock_guard<std::mutex> lock(state.connectionMutex);
    while (!batch.gone && XPending(state.display) > 0) {
        XEvent event;
        XNextEvent(state.display, &event);
        Message message;
        if (event.type == Expose) {
            batch.exposed = true;
        } else if (event.type == DestroyNotify && event.xdestroywindow.window == state.xWindow) {
            batch.gone = true;
        } else if (event.type == ConfigureNotify && event.xconfigure.window == state.xWindow) {
            slot.width.store(event.xconfigure.width);
            slot.height.store(event.xconfigure.height);
        } else if (messageOf(event, message)) {
            batch.messages.push_back(message);
        }
    }
    if (entryOf(state.display)->broken.load())
        batch.gone = true;
}

// The window's thread: X events and invalidations become messages.
// The X window went away without DestroyWindow (the host destroyed our parent,
// or the X connection was lost): the window procedure hears WM_DESTROY on the
// window's thread and the handle ends.
void endWithX(WindowState& state, WindowSlot& slot) {
    if (slot.destroying.exchange(true))
        return;
    state.procedure(state.handle, WM_DESTROY, 0, 0);
    retireWindow(slot);
    state.xWindow = 0; // read by the reaper only after it has joined this thread
}

// Ends the window when its thread is unwound by a lost X connection.
struct ConnectionLossGuard {
    WindowState& state;
    WindowSlot& slot;
    ~ConnectionLossGuard() {
        if (entryOf(state.display)->broken.load())
            endWithX(state, slot);
    }
};

// Sends WM_TIMER when the window's timer is due, and sets when it is next due.
void fireTimer(WindowState& state, WindowSlot& slot, std::chrono::steady_clock::time_point& due) {
    const UINT period = slot.timerPeriod.load(std::memory_order_acquire);
    if (period == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < due)
        return;
    due = now + std::chrono::milliseconds(period);
    state.procedure(state.handle, WM_TIMER, slot.timerId.load(std::memory_order_relaxed), 0);
}

void runWindow(WindowState* state, WindowSlot* slot) {
    currentWindow = state;
    currentWindowDisplay = state->display;
    const ConnectionLossGuard guard{*state, *slot};
    const HWND window = state->handle;
    pollfd connection{ConnectionNumber(state->display), POLLIN, 0};
    EventBatch batch;
    auto timerDue = std::chrono::steady_clock::now();
    while (!state->stopRequested.load()) {
        keepErrorHandler();
        batch.messages.clear();
        batch.exposed = false;
        readEvents(*state, *slot, batch);
        if (batch.gone) {
            endWithX(*state, *slot);
            return;
        }
        for (const Message& m : batch.messages) {
            if (state->stopRequested.load())
                break;
            state->procedure(window, m.message, m.wParam, m.lParam);
        }
        if (!state->stopRequested.load())
            fireTimer(*state, *slot, timerDue);
        const bool invalidated = slot->dirty.exchange(false);
        if ((batch.exposed || invalidated) && !state->stopRequested.load())
            state->procedure(window, WM_PAINT, 0, 0);
        connection.revents = 0;
        if (poll(&connection, 1, kPollMilliseconds) < 0 && errno != EINTR)
            break;
    }
}

// Tears down everything of a window that failed during creation.
void abandonCreation(Display* display, ::Window xWindow) {
    if (xWindow) {
        XDestroyWindow(display, xWindow);
        XSync(display, False);
    }
    closeDisplay(display);
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

// A connection for the queries that any thread may make about any window.
std::mutex queryMutex;
Display* queryDisplay = nullptr; // under queryMutex
bool queryDisplayTried = false;  // under queryMutex

Display* queryConnection() {
    if (!queryDisplayTried) {
        queryDisplayTried = true;
        queryDisplay = openDisplay();
    }
    return queryDisplay;
}

// Takes down every window still open when the module is unloaded, without calling
// window procedures (their editors are gone by then), and gives the process's X
// error handler back.
struct LayerShutdown {
    ~LayerShutdown() {
        for (WindowSlot& slot : windowSlots) {
            WindowState* state;
            {
                std::lock_guard<std::mutex> lock(windowMutex);
                state = slot.live.load() && !slot.destroying.exchange(true) ? slot.state : nullptr;
            }
            if (!state)
                continue;
            state->stopRequested.store(true);
            if (state->thread.joinable())
                state->thread.join();
            retireWindow(slot);
        }
        reapFinishedWindows();
        {
            std::lock_guard<std::mutex> lock(queryMutex);
            if (queryDisplay)
                closeDisplay(queryDisplay);
            queryDisplay = nullptr;
        }
        restoreErrorHandler();
    }
} layerShutdown;

} // namespace

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
    WindowState* state = currentWindow;
    if (!state || state->handle != window) {
        registry.lock();
        WindowSlot* slot = slotOf(window);
        if (!slot || !slot->state)
            return false;
        state = slot->state;
    }
    if (width <= 0 || height <= 0)
        return true;
    if (!state->format.trueColour || entryOf(state->display)->broken.load())
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

} // namespace kelvatone::win32

using namespace kelvatone::win32;

// ---- KERNEL32 ----

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    static int mainModule;
    if (moduleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&mainModule);
}

DWORD GetTickCount(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms); // wraps at 2^32 as Windows' does
}

void Sleep(DWORD milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// ---- OLE32 ----

HRESULT OleInitialize(LPVOID) {
    return S_OK;
}

void OleUninitialize(void) {}

// ---- USER32 ----

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
        isAtom(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(classMutex);
    if (findClass(windowClass->lpszClassName, windowClass->hInstance) != classes.end()) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    classes.push_back(
        {windowClass->lpszClassName, windowClass->hInstance, windowClass->lpfnWndProc, 0});
    return nextAtom++;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    reapFinishedWindows();
    if (!className || isAtom(className)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(classMutex);
    auto found = findClass(className, instance);
    if (found == classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (found->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    classes.erase(found);
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
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> lock(classMutex);
        auto found =
            className && !isAtom(className) ? findClass(className, instance) : classes.end();
        if (found == classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        procedure = found->procedure;
    }
    if (!(style & WS_CHILD) || !parent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    Display* display = openDisplay();
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

    WindowSlot* slot = nullptr;
    {
        std::lock_guard<std::mutex> lock(windowMutex);
        for (std::size_t i = 0; i < kMaxWindows && !slot; ++i) {
            WindowSlot& candidate = windowSlots[i];
            if (candidate.live.load() || candidate.state)
                continue;
            const std::uint32_t generation = candidate.generation.load() + 1;
            candidate.generation.store(generation);
            candidate.dirty.store(false);
            candidate.userData.store(0);
            candidate.timerPeriod.store(0);
            candidate.width.store(width);
            candidate.height.store(height);
            candidate.destroying.store(false);
            candidate.state = state.get();
            state->handle = makeHandle(i, generation);
            candidate.live.store(true, std::memory_order_release);
            slot = &candidate;
        }
    }
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
    const bool ownThread = state == currentWindow;
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
    std::lock_guard<std::mutex> lock(queryMutex);
    Display* display = queryConnection();
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
    std::lock_guard<std::mutex> lock(queryMutex);
    Display* display = queryConnection();
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
