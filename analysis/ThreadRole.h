// Which thread is the audio thread, for the run-time checks of the debug and sanitizer
// builds: the effect marks its thread while it is inside the host's process call, and the
// operations that must never run there (rebuilding the engine, configuring it, drawing the
// display) stop the program with a message when they find the mark. In other builds the
// mark and the checks compile to nothing.
#pragma once

#if !defined(NDEBUG) && !defined(KELVATONE_THREAD_CHECKS)
#define KELVATONE_THREAD_CHECKS 1
#endif

#if defined(KELVATONE_THREAD_CHECKS)
#include <cstdio>
#include <cstdlib>
#endif

namespace kelvatone::analysis::threadrole {

#if defined(KELVATONE_THREAD_CHECKS)

// Set on the audio thread inside the process call; thread-local, so no other thread
// reads it.
inline thread_local bool insideAudioCallback = false;

// Marks the calling thread as the audio thread for its lifetime (nested marks allowed).
class AudioCallbackScope {
public:
    AudioCallbackScope() : outer(insideAudioCallback) { insideAudioCallback = true; }
    ~AudioCallbackScope() { insideAudioCallback = outer; }
    AudioCallbackScope(const AudioCallbackScope&) = delete;
    AudioCallbackScope& operator=(const AudioCallbackScope&) = delete;

private:
    const bool outer;
};

// Stops the program when the calling thread is inside the audio callback.
inline void assertNotAudioThread(const char* operation) {
    if (insideAudioCallback) {
        std::fprintf(stderr, "kelvatone: %s on the audio thread\n", operation);
        std::abort();
    }
}

#else

class AudioCallbackScope {
public:
    AudioCallbackScope() {}
    AudioCallbackScope(const AudioCallbackScope&) = delete;
    AudioCallbackScope& operator=(const AudioCallbackScope&) = delete;
};

inline void assertNotAudioThread(const char*) {}

#endif

} // namespace kelvatone::analysis::threadrole
