// Which thread is the audio thread, checked twice over:
//   - at compile time, in every build: the audio thread is a capability (ThreadSafety.h)
//     that the effect takes for the length of the host's process and event calls
//     (AudioCallbackScope). What must run there REQUIRES it, and what must never run there
//     (rebuilding or configuring the engine, waiting for its guard, drawing the display)
//     EXCLUDES it, so that Clang rejects such a call made inside those calls;
//   - at run time, in the debug and sanitizer builds: the same scope marks its thread in a
//     thread-local flag, and the operations that must never run on the audio thread stop
//     the program with a message when they find the mark, which also catches the calls the
//     compiler cannot follow (through callbacks and virtual calls).
// Release builds leave the run-time mark out: the first use of a thread-local variable of a
// module the host loaded at run time allocates that module's thread-local block, and the
// audio thread's first process call would do it there (the validator's allocation count
// sees it). In them the scope and the checks compile to nothing.
#pragma once

#include "analysis/ThreadSafety.h"

#if !defined(NDEBUG) && !defined(KELVATONE_THREAD_CHECKS)
#define KELVATONE_THREAD_CHECKS 1
#endif

#if defined(KELVATONE_THREAD_CHECKS)
#include <cstdio>
#include <cstdlib>
#endif

namespace kelvatone::analysis::threadrole {

#if defined(KELVATONE_THREAD_CHECKS)

// Set on the audio thread inside the process and event calls; thread-local, so no other
// thread reads it.
inline thread_local bool insideAudioCallback = false;

// Stops the program with the message of a broken thread rule (and its ending). Any thread.
[[noreturn]] inline void reportViolation(const char* message, const char* ending = "") {
    std::fprintf(stderr, "kelvatone: %s%s\n", message, ending);
    std::abort();
}

// Checks a thread rule: stops the program with `message` when `holds` is false.
inline void check(bool holds, const char* message) {
    if (!holds)
        reportViolation(message);
}

#endif

// The role of the host's audio thread, as a capability. One object, audioThread.
class CAPABILITY("role") AudioThreadRole {
public:
    // The audio thread, where the compiler cannot see the role taken (inside a callback
    // that the process call runs): tells the analysis that the role is held, and checks
    // the mark in the builds that have it.
    void assertHeld() const ASSERT_CAPABILITY(this) {
#if defined(KELVATONE_THREAD_CHECKS)
        check(insideAudioCallback, "an audio-thread operation off the audio thread");
#endif
    }
};

inline AudioThreadRole audioThread;

// Holds the audio thread's role for the compiler for its lifetime, and marks the calling
// thread as the audio thread in the builds with the mark (nested marks allowed).
class SCOPED_CAPABILITY AudioCallbackScope {
public:
#if defined(KELVATONE_THREAD_CHECKS)
    AudioCallbackScope() ACQUIRE(audioThread) : outer(insideAudioCallback) {
        insideAudioCallback = true;
    }
    ~AudioCallbackScope() RELEASE() {
        insideAudioCallback = outer;
    }
#else
    AudioCallbackScope() ACQUIRE(audioThread) {}
    ~AudioCallbackScope() RELEASE() {}
#endif
    AudioCallbackScope(const AudioCallbackScope&) = delete;
    AudioCallbackScope& operator=(const AudioCallbackScope&) = delete;

#if defined(KELVATONE_THREAD_CHECKS)
private:
    const bool outer;
#endif
};

// Stops the program when the calling thread is inside the audio callback (in the builds
// with the mark).
inline void assertNotAudioThread([[maybe_unused]] const char* operation) {
#if defined(KELVATONE_THREAD_CHECKS)
    if (insideAudioCallback)
        reportViolation(operation, " on the audio thread");
#endif
}

} // namespace kelvatone::analysis::threadrole
