// The table of window classes and windows (see the header), and the shutdown of
// every window still open when the module is unloaded.
#include "editor/window/linux/WindowTable.h"

#include <strings.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace kelvatone::platform {

std::mutex windowMutex;

namespace {

// Sets window handles apart from X window ids (29 bits) and GDI handles.
constexpr std::uintptr_t kWindowHandleTag = std::uintptr_t{1} << 62;
constexpr int kGenerationShift = 8;
constexpr std::uintptr_t kIndexMask = 0xFF;
static_assert(kMaxWindows <= kIndexMask, "window index fits below the generation");
constexpr ATOM kFirstClassAtom = 0xC000;

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

std::vector<WindowClass>::iterator findClass(LPCSTR name, HINSTANCE instance) {
    return std::find_if(classes.begin(), classes.end(), [&](const WindowClass& c) {
        return c.instance == instance && strcasecmp(c.name.c_str(), name) == 0;
    });
}

// ---- Windows ----

WindowSlot windowSlots[kMaxWindows];
std::vector<std::unique_ptr<WindowState>> finishedWindows; // under windowMutex
// The window whose thread this is, on window threads; null elsewhere.
thread_local WindowState* currentWindow = nullptr;

HWND makeHandle(std::size_t index, std::uint32_t generation) {
    return reinterpret_cast<HWND>(kWindowHandleTag |
                                  (std::uintptr_t{generation} << kGenerationShift) | index);
}

} // namespace

DWORD addWindowClass(const WNDCLASSA& windowClass, ATOM& atom) {
    std::lock_guard<std::mutex> lock(classMutex);
    if (findClass(windowClass.lpszClassName, windowClass.hInstance) != classes.end())
        return ERROR_CLASS_ALREADY_EXISTS;
    classes.push_back(
        {windowClass.lpszClassName, windowClass.hInstance, windowClass.lpfnWndProc, 0});
    atom = nextAtom++;
    return ERROR_SUCCESS;
}

DWORD removeWindowClass(LPCSTR name, HINSTANCE instance) {
    std::lock_guard<std::mutex> lock(classMutex);
    auto found = findClass(name, instance);
    if (found == classes.end())
        return ERROR_CLASS_DOES_NOT_EXIST;
    if (found->windows > 0)
        return ERROR_CLASS_HAS_WINDOWS;
    classes.erase(found);
    return ERROR_SUCCESS;
}

WNDPROC classProcedure(LPCSTR name, HINSTANCE instance) {
    std::lock_guard<std::mutex> lock(classMutex);
    auto found = findClass(name, instance);
    return found == classes.end() ? nullptr : found->procedure;
}

void countClassWindow(const std::string& name, HINSTANCE instance, int change) {
    std::lock_guard<std::mutex> lock(classMutex);
    auto found = findClass(name.c_str(), instance);
    if (found != classes.end())
        found->windows += change;
}

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

WindowSlot* claimSlot(WindowState& state, int width, int height) {
    std::lock_guard<std::mutex> lock(windowMutex);
    for (std::size_t i = 0; i < kMaxWindows; ++i) {
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
        candidate.state = &state;
        state.handle = makeHandle(i, generation);
        candidate.live.store(true, std::memory_order_release);
        return &candidate;
    }
    return nullptr;
}

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
        if (state->xWindow && !connectionLost(state->display)) {
            XDestroyWindow(state->display, state->xWindow);
            XSync(state->display, False);
        }
        closeConnection(state->display);
    }
}

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

WindowState* windowOfThisThread() {
    return currentWindow;
}

void setWindowOfThisThread(WindowState* state) {
    currentWindow = state;
}

namespace {

// Takes down every window still open when the module is unloaded, without calling
// window procedures (their editors are gone by then), and gives the process's X
// error handler back. Defined after the tables above, in the same file, so that it
// runs before they are destroyed.
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
        closeQueryConnection();
        restoreErrorHandler();
    }
} layerShutdown;

} // namespace
} // namespace kelvatone::platform
