// Counts heap allocations, releases, waiting mutex locks, yields and sleeps that a module makes on
// the host's audio thread while that thread is inside one of the module's real-time
// calls (processReplacing, effProcessEvents, and setParameter when the audio thread
// makes it, as hosts playing automation do).
//
// The counting lives in the host executable (RealtimeInterposer.cpp): it defines
// malloc, calloc, realloc, free, the aligned allocators, every form of operator
// new/delete, pthread_mutex_lock, sched_yield, nanosleep, clock_nanosleep and usleep, so
// modules loaded into the process reach these definitions too. pthread_mutex_trylock,
// which never waits, is not counted. Where the
// interposition is not built (Windows, sanitizer builds, whose runtimes own malloc),
// countingAvailable() is false and every count stays 0.
#pragma once

#include <cstdint>
#include <string>

namespace kelvatone::host::validate {

struct Counts {
    uint64_t allocations = 0; // malloc, calloc, realloc, aligned allocators, new
    uint64_t releases = 0;    // free, delete (a null pointer counts too: it is a call)
    uint64_t mutexLocks = 0;  // pthread_mutex_lock
    uint64_t waits = 0;       // sched_yield, nanosleep, clock_nanosleep, usleep
    bool any() const { return allocations + releases + mutexLocks + waits != 0; }

    // The calls counted between two readings: `later - earlier`.
    friend Counts operator-(const Counts& later, const Counts& earlier) {
        return {later.allocations - earlier.allocations, later.releases - earlier.releases,
                later.mutexLocks - earlier.mutexLocks, later.waits - earlier.waits};
    }
    Counts& operator+=(const Counts& more) {
        allocations += more.allocations;
        releases += more.releases;
        mutexLocks += more.mutexLocks;
        waits += more.waits;
        return *this;
    }
};

// Any thread.
bool countingAvailable();
// Any thread: the calls counted so far, on any thread that was inside a module.
Counts counts();
// Any thread: starts the counts again from 0.
void resetCounts();
// "3 allocations, 1 release, 0 waiting mutex locks, 0 yields or sleeps".
std::string describe(const Counts& counts);

// Calling thread only: marks the thread as inside a module's real-time call for the
// lifetime of the object. Not nestable.
class InsideModule {
public:
    InsideModule();
    ~InsideModule();
    InsideModule(const InsideModule&) = delete;
    InsideModule& operator=(const InsideModule&) = delete;
};

} // namespace kelvatone::host::validate
