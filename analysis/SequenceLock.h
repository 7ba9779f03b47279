// A sequence counter through which one writer at a time publishes a group of atomic
// values that readers copy as one consistent whole, without either side taking a lock.
//
// The writer never waits: it brackets its stores with beginWrite and endWrite. A reader
// copies the values between beginRead and endRead and copies again when endRead says a
// write overlapped the copy. Readers wait (yielding) only while a write is inside its
// bracket, which a real-time writer keeps to a few stores.
//
// Every value guarded this way must itself be a std::atomic accessed with relaxed order:
// the fences below order them, and no access is a data race.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class SequenceLock {
public:
    // The one writer at a time (callers exclude each other); never waits.
    void beginWrite() {
        const uint32_t current = sequence.load(std::memory_order_relaxed);
        sequence.store(current + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    // The writer, after its stores.
    void endWrite() {
        sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Any reader: waits until no write is open and answers the ticket to hand to endRead.
    uint32_t beginRead() const {
        for (;;) {
            const uint32_t ticket = sequence.load(std::memory_order_acquire);
            if ((ticket & 1u) == 0)
                return ticket;
            std::this_thread::yield();
        }
    }
    // The reader, after its loads: true when no write overlapped them.
    bool endRead(uint32_t ticket) const {
        std::atomic_thread_fence(std::memory_order_acquire);
        return sequence.load(std::memory_order_relaxed) == ticket;
    }

private:
    // Odd while a write is open. Written by the writer, read by every reader.
    std::atomic<uint32_t> sequence{0};
};
