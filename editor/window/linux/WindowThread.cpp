// The window thread (see the header).
#include "editor/window/linux/WindowThread.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "editor/window/linux/EventTranslation.h"

namespace kelvatone::platform {
namespace {

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
    if (connectionBroken(state.display))
        batch.gone = true;
}

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
        if (connectionBroken(state.display))
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

} // namespace

void runWindow(WindowState* state, WindowSlot* slot) {
    setWindowOfThisThread(state);
    endThreadOnLossOf(state->display);
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
        if (poll(&connection, 1, kWindowPollMilliseconds) < 0 && errno != EINTR)
            break;
    }
}

} // namespace kelvatone::platform
