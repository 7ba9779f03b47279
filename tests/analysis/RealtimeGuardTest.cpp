// The guard between the audio thread, which only tries it, and the UI thread, which
// waits for it: one holder at a time, and a waiting thread gets in ahead of the tries.
#include "analysis/RealtimeGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kelvatone::analysis;

namespace {

TEST(RealtimeGuard, TryFailsWhileHeldAndSucceedsAfter) {
    RealtimeGuard guard;
    ASSERT_TRUE(guard.tryLock());
    EXPECT_FALSE(guard.tryLock());
    guard.unlock();
    EXPECT_TRUE(guard.tryLock());
    guard.unlock();
}

// What both threads do while they hold the guard: count themselves in, change plain data
// with a yield in the middle (so that a second holder, had it got in, runs inside the
// section even on one core), and count themselves out. The data is not atomic: the guard
// alone orders it, and ThreadSanitizer reports every access it does not.
struct GuardedSection {
    long total = 0;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};

    void run() {
        if (inside.fetch_add(1) != 0)
            overlaps.fetch_add(1);
        const long before = total;
        std::this_thread::yield();
        total = before + 1;
        inside.fetch_sub(1);
    }
};

TEST(RealtimeGuard, TriesAndWaitsNeverHoldItTogether) {
    constexpr int kTurns = 200;
    RealtimeGuard guard;
    GuardedSection section;
    // Each thread takes turns until both have had kTurns, yielding between them, so that
    // the turns of the two interleave however late either thread starts. The counts are
    // relaxed: they order nothing that the guard should.
    std::atomic<int> audioTurns{0};
    std::atomic<int> waitingTurns{0};
    auto bothDone = [&] {
        return audioTurns.load(std::memory_order_relaxed) >= kTurns &&
               waitingTurns.load(std::memory_order_relaxed) >= kTurns;
    };
    std::thread audio([&] {
        while (!bothDone()) {
            if (guard.tryLock()) {
                section.run();
                guard.unlock();
                audioTurns.fetch_add(1, std::memory_order_relaxed);
            }
            std::this_thread::yield();
        }
    });
    while (!bothDone()) {
        guard.lock();
        section.run();
        guard.unlock();
        waitingTurns.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::yield();
    }
    audio.join();
    EXPECT_EQ(section.overlaps.load(), 0);
    EXPECT_EQ(section.total, audioTurns.load() + waitingTurns.load()) << "updates lost";
}

TEST(RealtimeGuard, AWaitingThreadGetsInAheadOfRepeatedTries) {
    constexpr int kWaits = 200;
    // Once a thread waits, every try fails: of the audio thread's holds, only the one under
    // way and one whose try came just before the wait was posted can begin during a wait.
    // A preempted waiting thread may let a few more in, so the bound is on the mean. Without
    // the precedence the waits let thousands of holds through each.
    constexpr double kMostHoldsPerWait = 10.0;
    RealtimeGuard guard;
    std::atomic<bool> stop{false};
    std::atomic<long> audioHolds{0};
    std::thread audio([&] {
        while (!stop.load()) {
            if (guard.tryLock()) {
                audioHolds.fetch_add(1);
                // Hold it for most of the time, as a render faster than real time does.
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
                while (std::chrono::steady_clock::now() < until) {
                }
                guard.unlock();
            }
        }
    });
    while (audioHolds.load() == 0)
        std::this_thread::yield();
    long holdsDuringWaits = 0;
    for (int i = 0; i < kWaits; ++i) {
        const long before = audioHolds.load();
        guard.lock();
        holdsDuringWaits += audioHolds.load() - before;
        guard.unlock();
    }
    stop.store(true);
    audio.join();
    EXPECT_LE(static_cast<double>(holdsDuringWaits) / kWaits, kMostHoldsPerWait);
}

} // namespace
