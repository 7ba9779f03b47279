// The table of window classes and windows of the Linux layer, and the state of
// each window.
//
// Ownership and locks:
// - A window's state (WindowState) is owned by the table from CreateWindowExA until
//   the window is retired and reaped: reapFinishedWindows joins the window's thread,
//   destroys the X window, closes its connection and frees the state.
// - windowMutex, process-wide, guards the table: the slots' state pointers and the
//   list of finished windows. The slots' atomic fields are read without it.
// - Each window's connectionMutex serialises requests on its connection between
//   its window thread and the threads that copy pixels to it.
// - The class registry has a lock of its own, taken inside the class functions.
// Window handles carry a slot index and a generation, so a stale handle is refused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "editor/platform/linux/Win32Layer.h"
#include "editor/window/linux/XConnections.h"

namespace kelvatone::platform {

// Windows open at once: every connection but the query connection.
constexpr std::size_t kMaxWindows = kMaxConnections - 1;

// The part of a window that the pixel format of its screen decides.
struct PixelFormat {
    bool directBgrx = false; // 32-bit TrueColor with masks 0xFF0000, 0xFF00, 0xFF
    bool trueColour = false;
    unsigned long redMask = 0, greenMask = 0, blueMask = 0;
};

// Fixed once the window is created, except where noted.
struct WindowState {
    HWND handle = nullptr;
    Display* display = nullptr; // the window's own connection
    ::Window xWindow = 0;       // set to 0 by the window's thread when the X window is gone
    WNDPROC procedure = nullptr;
    std::string className;
    HINSTANCE instance = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    PixelFormat format;
    std::mutex connectionMutex;             // serialises requests on display between threads
    std::thread thread;                     // the window thread, started by CreateWindowExA
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

extern std::mutex windowMutex;

// ---- Classes: any thread, not real-time ----

// Registers a class under its name (compared without case) and instance; answers
// ERROR_SUCCESS and the class atom, or ERROR_CLASS_ALREADY_EXISTS.
DWORD addWindowClass(const WNDCLASSA& windowClass, ATOM& atom);
// Answers ERROR_SUCCESS, ERROR_CLASS_DOES_NOT_EXIST or ERROR_CLASS_HAS_WINDOWS.
DWORD removeWindowClass(LPCSTR name, HINSTANCE instance);
// The window procedure of a registered class; null when there is none.
WNDPROC classProcedure(LPCSTR name, HINSTANCE instance);
// Counts a window of the class in (+1) or out (-1).
void countClassWindow(const std::string& name, HINSTANCE instance, int change);

// ---- Windows ----

// The slot of a live window, or null. Lock-free; any thread.
WindowSlot* slotOf(HWND window);

// Gives state a free slot of its own, sized width x height, and its handle; null
// when kMaxWindows are live. Any thread, not real-time.
WindowSlot* claimSlot(WindowState& state, int width, int height);

// Ends the handle's life: no call reaches the window after this. The table keeps
// the state until reapFinishedWindows. Any thread, not real-time.
void retireWindow(WindowSlot& slot);

// Joins the threads of retired windows, takes down their X windows and
// connections, and frees them; a window retired on its own thread is left for a
// later call. Any thread, not real-time.
void reapFinishedWindows();

// The window whose thread this is; null on every other thread.
WindowState* windowOfThisThread();
// Called by a window thread at its start.
void setWindowOfThisThread(WindowState* state);

} // namespace kelvatone::platform
