// Annotations of the thread rules for Clang's thread-safety analysis (-Wthread-safety): a
// type that is a capability (a lock, or a thread role such as "the audio thread"), the data
// a capability guards, and the functions that need, take, give back or must not hold one;
// and Hold, which holds a lock for a scope.
// Clang checks them at compile time in every translation unit (the linux-clang-threads
// preset fails on any finding); other compilers (g++, MinGW) read them as nothing.
//
// The analysis follows capabilities by the expression that names them, inside one function
// at a time: it does not follow references held in members, nor calls through lambdas or
// function pointers. Where code crosses such a boundary it states what holds with an
// assertion (ASSERT_CAPABILITY), which checks at run time what the compiler cannot see.
#pragma once

#if defined(__clang__)
#define KELVATONE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KELVATONE_THREAD_ANNOTATION(x)
#endif

// A type whose objects are capabilities; `kind` names it in the compiler's messages.
#define CAPABILITY(kind) KELVATONE_THREAD_ANNOTATION(capability(kind))
// An object that holds a capability from its construction to its destruction.
#define SCOPED_CAPABILITY KELVATONE_THREAD_ANNOTATION(scoped_lockable)
// Data that may be read or written only while the capability is held.
#define GUARDED_BY(x) KELVATONE_THREAD_ANNOTATION(guarded_by(x))
// The caller must hold the capabilities (exclusively, or at least shared).
#define REQUIRES(...) KELVATONE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KELVATONE_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes the capabilities (exclusively, or shared) and returns holding them.
#define ACQUIRE(...) KELVATONE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KELVATONE_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
// The function gives back the capabilities it is called holding.
#define RELEASE(...) KELVATONE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KELVATONE_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// The function takes the capabilities when it returns `result`, and only then.
#define TRY_ACQUIRE(...) KELVATONE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// The caller must not hold the capabilities (for example: must not be the audio thread).
#define EXCLUDES(...) KELVATONE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// From the call on, the analysis takes the capability as held (exclusively, or shared):
// for where it cannot see it taken. The function may check it at run time.
#define ASSERT_CAPABILITY(x) KELVATONE_THREAD_ANNOTATION(assert_capability(x))
#define ASSERT_SHARED_CAPABILITY(x) KELVATONE_THREAD_ANNOTATION(assert_shared_capability(x))

namespace kelvatone::analysis {

// Holds a lock (any type with lock and unlock, annotated as a capability) from its
// construction to its destruction, waiting for it: the thread that constructs it.
template <class Lock> class SCOPED_CAPABILITY Hold {
public:
    explicit Hold(Lock& taken) ACQUIRE(taken) : lock(taken) { lock.lock(); }
    ~Hold() RELEASE() { lock.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Lock& lock;
};

} // namespace kelvatone::analysis
