// A lock that the audio thread only ever tries (it never waits), while other threads
// may wait for it. Guards state that a real-time caller may skip working on for a
// moment but must never block on: the engine's arrays during a reconfiguration.
//
// A thread that waits takes precedence over the tries: while one waits, tryLock
// fails, so an audio thread that tries again and again (as a faster-than-real-time
// render does) never keeps a waiting setting thread out.
//
// A capability for Clang's thread-safety analysis (ThreadSafety.h): the data it guards is
// marked GUARDED_BY it, and the compiler checks that every use holds it.
#pragma once

#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"

#include <atomic>
#include <thread>

namespace kelvatone::analysis {

class CAPABILITY("guard") RealtimeGuard {
public:
    // any thread; never waits
    bool tryLock() TRY_ACQUIRE(true) {
        return waiting.load(std::memory_order_acquire) == 0 && take();
    }
    // any thread but the audio thread: yields until the guard is free
    void lock() ACQUIRE() EXCLUDES(threadrole::audioThread) {
        waiting.fetch_add(1, std::memory_order_acq_rel);
        while (!take())
            std::this_thread::yield();
        waiting.fetch_sub(1, std::memory_order_acq_rel);
    }
    // the thread that holds the guard
    void unlock() RELEASE() { held.store(false); }
    // The thread that holds the guard, where the compiler cannot see it taken (inside a
    // callback, or through a reference another object keeps): tells the analysis that the
    // guard is held. The builds with thread checks also check that someone holds it; others
    // spend nothing, as it may run once per sample.
    void assertHeld() const ASSERT_CAPABILITY(this) {
#if defined(KELVATONE_THREAD_CHECKS)
        threadrole::check(held.load(std::memory_order_relaxed), "the engine's guard is not held");
#endif
    }

private:
    // Sequentially consistent, with unlock: a thread that posts a request and then finds the
    // guard taken, and the holder that releases it and then looks for requests, cannot
    // both miss the request.
    bool take() {
        return !held.exchange(true);
    }

    // Written by whichever thread takes or releases the guard; read by all of them.
    std::atomic<bool> held{false};
    // Number of threads inside lock(); written by them, read by tryLock.
    std::atomic<int> waiting{0};
};

// Holds a guard for a scope, waiting for it: for a thread that owns an engine alone (a tool,
// a test) or a setting thread that keeps the audio thread out. Never the audio thread.
using GuardHold = Hold<RealtimeGuard>;

} // namespace kelvatone::analysis
