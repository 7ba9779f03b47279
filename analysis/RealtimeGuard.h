// A lock that the audio thread only ever tries (it never waits), while other threads
// may wait for it. Guards state that a real-time caller may skip working on for a
// moment but must never block on: the engine's arrays during a reconfiguration, the
// display's back buffer during a paint.
#pragma once

#include <atomic>
#include <thread>

class RealtimeGuard {
public:
    // any thread; never waits
    bool tryLock() { return !held.exchange(true, std::memory_order_acquire); }
    // any thread but the audio thread: yields until the guard is free
    void lock() {
        while (!tryLock())
            std::this_thread::yield();
    }
    // the thread that holds the guard
    void unlock() { held.store(false, std::memory_order_release); }

private:
    // Written by whichever thread takes or releases the guard; read by all of them.
    std::atomic<bool> held{false};
};
