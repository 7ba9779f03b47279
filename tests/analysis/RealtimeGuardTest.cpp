// The guard between the audio thread, which only tries it, and the UI thread, which
// waits for it.
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

TEST(RealtimeGuard, AWaitingThreadGetsInAheadOfRepeatedTries) {
    constexpr int kWaits = 200;
    // Hundreds of times what the waits take when waiting threads come first; a waiting
    // thread that had to win a race against back-to-back tries took seconds here.
    constexpr auto kDeadline = std::chrono::seconds(2);
    RealtimeGuard guard;
    std::atomic<bool> stop{false};
    std::atomic<long> shared{0};
    std::thread audio([&] {
        while (!stop.load()) {
            if (guard.tryLock()) {
                // Hold it for most of the time, as a render faster than real time does.
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
                while (std::chrono::steady_clock::now() < until)
                    shared.store(shared.load(std::memory_order_relaxed) + 1,
                                 std::memory_order_relaxed);
                guard.unlock();
            }
        }
    });
    while (shared.load() == 0)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kWaits; ++i) {
        guard.lock();
        shared.store(shared.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
        guard.unlock();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    stop.store(true);
    audio.join();
    EXPECT_LT(took, kDeadline);
}

} // namespace
