// The layer's own X display connections and the X error handlers that guard them.
//
// Every window of the layer has a connection of its own, used by one thread at a
// time (its window thread, or another thread under the window's connection mutex),
// and one more connection serves the queries any thread may make about any window.
// With every connection confined that way the layer needs no XInitThreads (a
// process-wide switch that is only safe before any other Xlib call of the host);
// libX11 1.8 and later initialise Xlib's own locking at load anyway.
//
// X errors on our connections (a BadWindow once the host has destroyed the parent
// window, for instance) are swallowed and remembered per connection; errors of
// every other connection go on to the handler that was installed before ours. An
// I/O error on one of our connections ends that window's thread instead of the
// process. Threads: every function here may be called from any thread, none is
// real-time (they lock, allocate or talk to the X server).
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <mutex>

namespace kelvatone::platform {

// Connections open at once: one per window and one for queries.
constexpr std::size_t kMaxConnections = 65;

// Opens a connection of our own and registers it with the error handlers; null
// without an X server or when kMaxConnections are open. The caller owns it until
// closeConnection.
Display* openConnection();

// Closes a connection from openConnection. One that is lost (see connectionLost)
// is kept open and never freed: Xlib would write to it, and the thread that met
// its I/O error ended inside Xlib, which may still hold the connection's lock.
void closeConnection(Display* display);

// Waits for the server to handle every request so far and tells whether none of
// them failed since the last call and the connection still stands.
bool syncSucceeded(Display* display);

// Whether the connection was lost to an I/O error.
bool connectionBroken(Display* display);

// The same, or the server has closed the connection though no request has met
// the loss yet (looked at on the socket, without a request). For a connection no
// other thread is using: one whose window has ended, before it is written to.
bool connectionLost(Display* display);

// Puts our error handlers in front of the process's current ones. The host may
// install its own at any time (without passing ours on), so every window thread
// does this on each cycle, and so does window creation before its first request.
void keepErrorHandler();

// At unload, once no thread of ours is left: the handlers before ours go back,
// unless the host has put in others since.
void restoreErrorHandler();

// Called by a window thread at its start: a lost `display` then ends this thread
// (its stack unwinds) rather than the process.
void endThreadOnLossOf(Display* display);

// The shared connection for queries about any window, opened on first use, held
// (under a lock, one query at a time) for the lifetime of this object.
class QueryConnection {
public:
    QueryConnection();
    QueryConnection(const QueryConnection&) = delete;
    QueryConnection& operator=(const QueryConnection&) = delete;

    // Null when no X server could be reached.
    Display* display() const;

private:
    std::lock_guard<std::mutex> lock_;
};

// Closes the query connection, at unload.
void closeQueryConnection();

} // namespace kelvatone::platform
