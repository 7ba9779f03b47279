// The host executable's own allocator and mutex entry points, which count the calls a
// module makes while the audio thread is inside it (see RealtimeMonitor.h). Linked into
// the executable itself, never into a library: only the executable's definitions come
// before libc's for every module the process loads.
#include "host/validate/RealtimeMonitor.h"

#include <atomic>

#if defined(KELVATONE_HOST_INTERPOSE)
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <new>

// glibc's own implementations, which ours forward to. __pthread_mutex_lock is only
// exported under its old version, so it is bound to that version explicitly.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
int glibcMutexLock(pthread_mutex_t* mutex);
__asm__(".symver glibcMutexLock,__pthread_mutex_lock@GLIBC_2.2.5");
}
#endif

namespace kelvatone::host::validate {
namespace {

// Written by the counting hooks on any thread inside a module, read and reset by the
// validator's thread.
std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> releaseCount{0};
std::atomic<uint64_t> mutexLockCount{0};
std::atomic<uint64_t> waitCount{0};

// The calling thread's own flag: static TLS of the executable, which reading from
// inside malloc never allocates.
thread_local bool insideModule = false;

std::string plural(uint64_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

} // namespace

#if defined(KELVATONE_HOST_INTERPOSE)
bool countingAvailable() {
    return true;
}
// Called from the hooks below.
inline void countAllocation() {
    if (insideModule)
        allocationCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countRelease() {
    if (insideModule)
        releaseCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countMutexLock() {
    if (insideModule)
        mutexLockCount.fetch_add(1, std::memory_order_relaxed);
}
inline void countWait() {
    if (insideModule)
        waitCount.fetch_add(1, std::memory_order_relaxed);
}
#else
bool countingAvailable() {
    return false;
}
#endif

Counts counts() {
    Counts result;
    result.allocations = allocationCount.load(std::memory_order_relaxed);
    result.releases = releaseCount.load(std::memory_order_relaxed);
    result.mutexLocks = mutexLockCount.load(std::memory_order_relaxed);
    result.waits = waitCount.load(std::memory_order_relaxed);
    return result;
}

void resetCounts() {
    allocationCount.store(0, std::memory_order_relaxed);
    releaseCount.store(0, std::memory_order_relaxed);
    mutexLockCount.store(0, std::memory_order_relaxed);
    waitCount.store(0, std::memory_order_relaxed);
}

std::string describe(const Counts& counts) {
    return plural(counts.allocations, "allocation") + ", " + plural(counts.releases, "release") +
           ", " + plural(counts.mutexLocks, "waiting mutex lock") + ", " +
           std::to_string(counts.waits) +
           (counts.waits == 1 ? " yield or sleep" : " yields or sleeps");
}

InsideModule::InsideModule() {
    insideModule = true;
}

InsideModule::~InsideModule() {
    insideModule = false;
}

} // namespace kelvatone::host::validate

#if defined(KELVATONE_HOST_INTERPOSE)
namespace rt = kelvatone::host::validate;

// The build hides symbols by default; these must be seen by every loaded module.
#define INTERPOSED __attribute__((visibility("default")))

extern "C" {

INTERPOSED void* malloc(size_t size) {
    rt::countAllocation();
    return __libc_malloc(size);
}

INTERPOSED void* calloc(size_t count, size_t size) {
    rt::countAllocation();
    return __libc_calloc(count, size);
}

INTERPOSED void* realloc(void* block, size_t size) {
    rt::countAllocation();
    return __libc_realloc(block, size);
}

INTERPOSED void free(void* block) {
    rt::countRelease();
    __libc_free(block);
}

INTERPOSED void* memalign(size_t alignment, size_t size) {
    rt::countAllocation();
    return __libc_memalign(alignment, size);
}

INTERPOSED void* aligned_alloc(size_t alignment, size_t size) {
    rt::countAllocation();
    return __libc_memalign(alignment, size);
}

INTERPOSED int posix_memalign(void** result, size_t alignment, size_t size) {
    rt::countAllocation();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr)
        return ENOMEM;
    *result = block;
    return 0;
}

INTERPOSED int pthread_mutex_lock(pthread_mutex_t* mutex) {
    rt::countMutexLock();
    return glibcMutexLock(mutex);
}

// Yields and sleeps go straight to the kernel, as glibc's own do.
INTERPOSED int sched_yield() {
    rt::countWait();
    return static_cast<int>(syscall(SYS_sched_yield));
}

INTERPOSED int nanosleep(const timespec* duration, timespec* remaining) {
    rt::countWait();
    return static_cast<int>(syscall(SYS_nanosleep, duration, remaining));
}

// Answers the error number itself, not -1 with errno.
INTERPOSED int clock_nanosleep(clockid_t clock, int flags, const timespec* time,
                               timespec* remaining) {
    rt::countWait();
    return syscall(SYS_clock_nanosleep, clock, flags, time, remaining) == 0 ? 0 : errno;
}

INTERPOSED int usleep(useconds_t microseconds) {
    rt::countWait();
    constexpr useconds_t kMicrosecondsPerSecond = 1000000;
    constexpr long kNanosecondsPerMicrosecond = 1000;
    const timespec duration{static_cast<time_t>(microseconds / kMicrosecondsPerSecond),
                            static_cast<long>(microseconds % kMicrosecondsPerSecond) *
                                kNanosecondsPerMicrosecond};
    return static_cast<int>(syscall(SYS_nanosleep, &duration, nullptr));
}

} // extern "C"

// Every form of operator new and delete: they reach the counting malloc and free, so a
// module's new is counted once whether it calls these or the library's own.
namespace {
void* allocateOrThrow(size_t size) {
    if (void* block = malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
void* allocateAlignedOrThrow(size_t size, std::align_val_t alignment) {
    if (void* block = memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
} // namespace

INTERPOSED void* operator new(size_t size) {
    return allocateOrThrow(size);
}
INTERPOSED void* operator new[](size_t size) {
    return allocateOrThrow(size);
}
INTERPOSED void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return malloc(size == 0 ? 1 : size);
}
INTERPOSED void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return malloc(size == 0 ? 1 : size);
}
INTERPOSED void* operator new(size_t size, std::align_val_t alignment) {
    return allocateAlignedOrThrow(size, alignment);
}
INTERPOSED void* operator new[](size_t size, std::align_val_t alignment) {
    return allocateAlignedOrThrow(size, alignment);
}
INTERPOSED void* operator new(size_t size, std::align_val_t alignment,
                              const std::nothrow_t&) noexcept {
    return memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}
INTERPOSED void* operator new[](size_t size, std::align_val_t alignment,
                                const std::nothrow_t&) noexcept {
    return memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}
INTERPOSED void operator delete(void* block) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block) noexcept {
    free(block);
}
INTERPOSED void operator delete(void* block, size_t) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block, size_t) noexcept {
    free(block);
}
INTERPOSED void operator delete(void* block, const std::nothrow_t&) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block, const std::nothrow_t&) noexcept {
    free(block);
}
INTERPOSED void operator delete(void* block, std::align_val_t) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block, std::align_val_t) noexcept {
    free(block);
}
INTERPOSED void operator delete(void* block, size_t, std::align_val_t) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block, size_t, std::align_val_t) noexcept {
    free(block);
}
INTERPOSED void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    free(block);
}
INTERPOSED void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    free(block);
}
#endif
