// The layer's X connections and error handlers (see the header). A table of our
// connections lets the process-wide error handlers tell ours from the host's.
#include "editor/window/linux/XConnections.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <vector>

namespace kelvatone::platform {
namespace {

struct ConnectionEntry {
    std::atomic<Display*> display{nullptr}; // written under connectionMutex, read by handlers
    std::atomic<int> lastError{0};          // written by the error handler, read by owner
    std::atomic<bool> broken{false};        // written by the I/O error handler
};
ConnectionEntry connections[kMaxConnections];
std::mutex connectionMutex;
// The handler that ours passes other connections' errors to: the one that was
// installed when ours last went in. Written by whichever thread re-installs
// ours, read by the handler on any thread.
std::atomic<XErrorHandler> previousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> previousIoErrorHandler{nullptr}; // the same for I/O errors

// The connection of the window whose thread this is, on window threads.
thread_local Display* currentWindowDisplay = nullptr;

ConnectionEntry* entryOf(Display* display) {
    for (ConnectionEntry& entry : connections)
        if (entry.display.load(std::memory_order_acquire) == display)
            return &entry;
    return nullptr;
}

int onXError(Display* display, XErrorEvent* event) {
    if (ConnectionEntry* entry = entryOf(display)) {
        entry->lastError.store(event->error_code, std::memory_order_relaxed);
        return 0;
    }
    const XErrorHandler previous = previousErrorHandler.load();
    return previous ? previous(display, event) : 0;
}

// A lost connection of ours: on the window's own thread the thread ends (its
// stack unwinds, and the window thread's guard retires the window), so that
// losing the X server does not take the host down with it. Elsewhere Xlib ends
// the process after the handler, as it does for the host's own connections.
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

// Connections lost to an I/O error (never destroyed, so that they stay reachable
// to the end). Under connectionMutex.
std::vector<Display*>& lostConnections() {
    static auto* lost = new std::vector<Display*>;
    return *lost;
}

// Whether the server has closed the connection, seen at its socket without a
// request of ours (events it sent before closing may still be unread). Xlib
// learns of a lost server only from a failed request, and on a thread that lives
// on after its I/O error handler Xlib leaves the connection's lock broken.
bool serverHungUp(Display* display) {
    pollfd connection{ConnectionNumber(display), POLLRDHUP, 0};
    return poll(&connection, 1, 0) > 0 &&
           (connection.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool lost(ConnectionEntry& entry, Display* display) {
    if (!entry.broken.load() && serverHungUp(display))
        entry.broken.store(true);
    return entry.broken.load();
}

// The query connection: opened on first use by QueryConnection.
std::mutex queryMutex;
Display* queryDisplay = nullptr; // under queryMutex
bool queryDisplayTried = false;  // under queryMutex

} // namespace

void keepErrorHandler() {
    const XErrorHandler replaced = XSetErrorHandler(onXError);
    if (replaced != onXError)
        previousErrorHandler.store(replaced);
    const XIOErrorHandler replacedIo = XSetIOErrorHandler(onXIoError);
    if (replacedIo != onXIoError)
        previousIoErrorHandler.store(replacedIo);
}

Display* openConnection() {
    std::lock_guard<std::mutex> lock(connectionMutex);
    auto free =
        std::find_if(std::begin(connections), std::end(connections), [](ConnectionEntry& e) {
            return e.display.load(std::memory_order_relaxed) == nullptr;
        });
    if (free == std::end(connections))
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

void closeConnection(Display* display) {
    std::lock_guard<std::mutex> lock(connectionMutex);
    ConnectionEntry* entry = entryOf(display);
    if (lost(*entry, display))
        lostConnections().push_back(display);
    else
        XCloseDisplay(display);
    entry->display.store(nullptr, std::memory_order_release);
}

bool syncSucceeded(Display* display) {
    ConnectionEntry* entry = entryOf(display);
    XSync(display, False);
    return entry->lastError.exchange(0) == 0 && !entry->broken.load();
}

bool connectionBroken(Display* display) {
    return entryOf(display)->broken.load();
}

bool connectionLost(Display* display) {
    return lost(*entryOf(display), display);
}

void restoreErrorHandler() {
    std::lock_guard<std::mutex> lock(connectionMutex);
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

void endThreadOnLossOf(Display* display) {
    currentWindowDisplay = display;
}

QueryConnection::QueryConnection() : lock_(queryMutex) {
    if (!queryDisplayTried) {
        queryDisplayTried = true;
        queryDisplay = openConnection();
    }
}

Display* QueryConnection::display() const {
    return queryDisplay;
}

void closeQueryConnection() {
    std::lock_guard<std::mutex> lock(queryMutex);
    if (queryDisplay)
        closeConnection(queryDisplay);
    queryDisplay = nullptr;
}

} // namespace kelvatone::platform
