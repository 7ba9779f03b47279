// A sequence counter through which one writer at a time publishes a group of atomic
// values that readers copy as one consistent whole, without either side taking a lock.
//
// The writer never waits: it brackets its stores with beginWrite and endWrite. A reader
// copies the values between beginRead and endRead and copies again when endRead says a
// write overlapped the copy. Readers wait (yielding) only while a write is inside its
// bracket, which a real-time writer keeps to a few stores.
//
// Every value guarded this way must itself be a std::atomic, stored with release order
// inside a write and loaded with acquire order inside a read (plain moves on x86). A
// reader that loads any value of an open write then also sees that write's odd count in
// endRead, so no access is a data race and no torn group is accepted; no standalone fence
// is needed (ThreadSanitizer checks the code as it is).
//
// A capability for Clang's thread-safety analysis (ThreadSafety.h): a write holds it
// exclusively, a read shared, and the values published through it are GUARDED_BY it.
#pragma once

#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace kelvatone::analysis {

class CAPABILITY("sequence lock") SequenceLock {
public:
    // The one writer at a time (callers exclude each other); never waits.
    void beginWrite() ACQUIRE() {
        sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    // The writer, after its stores.
    void endWrite() RELEASE() {
        sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Any reader: waits until no write is open and answers the ticket to hand to endRead.
    uint32_t beginRead() const ACQUIRE_SHARED() {
        for (;;) {
            const uint32_t ticket = sequence.load(std::memory_order_acquire);
            if ((ticket & 1u) == 0)
                return ticket;
            std::this_thread::yield();
        }
    }
    // The reader, after its (acquire) loads: true when no write overlapped them.
    bool endRead(uint32_t ticket) const RELEASE_SHARED() {
        return sequence.load(std::memory_order_relaxed) == ticket;
    }
    // The only writer, between its writes (a history one thread keeps alone): the values
    // hold still, so it may read them without a read. Tells the analysis so; the builds
    // with thread checks also check that no write is open.
    void assertNoWriteOpen() const ASSERT_SHARED_CAPABILITY(this) {
#if defined(KELVATONE_THREAD_CHECKS)
        threadrole::check((sequence.load(std::memory_order_relaxed) & 1u) == 0,
                          "a read of a sequence lock's values inside an open write");
#endif
    }

private:
    // Odd while a write is open. Written by the writer, read by every reader.
    std::atomic<uint32_t> sequence{0};
};

} // namespace kelvatone::analysis
