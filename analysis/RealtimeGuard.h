// A lock that the audio thread only ever tries (it never waits), while other threads
// may wait for it. Guards state that a real-time caller may skip working on for a
// moment but must never block on: the engine's arrays during a reconfiguration.
//
// A thread that waits takes precedence over the tries: while one waits, tryLock
// fails, so an audio thread that tries again and again (as a faster-than-real-time
// render does) never keeps a waiting setting thread out.
#pragma once

#include <atomic>
#include <thread>

namespace kelvatone::analysis {

class RealtimeGuard {
public:
    // any thread; never waits
    bool tryLock() { return waiting.load(std::memory_order_acquire) == 0 && take(); }
    // any thread but the audio thread: yields until the guard is free
    void lock() {
        waiting.fetch_add(1, std::memory_order_acq_rel);
        while (!take())
            std::this_thread::yield();
        waiting.fetch_sub(1, std::memory_order_acq_rel);
    }
    // the thread that holds the guard
    void unlock() { held.store(false); }

private:
    // Sequentially consistent, with unlock: a thread that posts a request and then finds the
    // guard taken, and the holder that releases it and then looks for requests, cannot
    // both miss the request.
    bool take() { return !held.exchange(true); }

    // Written by whichever thread takes or releases the guard; read by all of them.
    std::atomic<bool> held{false};
    // Number of threads inside lock(); written by them, read by tryLock.
    std::atomic<int> waiting{0};
};

} // namespace kelvatone::analysis
