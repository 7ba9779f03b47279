// The host may announce sample rate and block size on one thread while the audio
// thread reads them. The check is ThreadSanitizer's (the concurrency label runs under it):
// nothing orders the announcements against the reads but the settings' own atomics, so it
// reports a setting kept in plain memory. Every build checks that the last announcement
// is the one in force.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kelvatone::vst;

namespace {

constexpr int kAnnouncements = 100000;
constexpr float kRates[2] = {44100.0f, 96000.0f};
constexpr int32_t kBlockSizes[2] = {64, 4096};

TEST(SettingsAcrossThreads, AnnouncementsRaceOnlyWithAtomicReads) {
    TestEffect effect(nullptr);
    effect.setSampleRate(kRates[0]);
    effect.setBlockSize(kBlockSizes[0]);
    std::atomic<bool> reading{false};
    std::atomic<bool> done{false};

    std::thread audio([&] {
        reading.store(true, std::memory_order_release);
        // At least one read of each, unordered with the announcements, however late the
        // thread runs; kept in volatile places, so that no read is left out.
        [[maybe_unused]] volatile float rate = 0.0f;
        [[maybe_unused]] volatile int32_t size = 0;
        do {
            rate = effect.getSampleRate();
            size = effect.getBlockSize();
        } while (!done.load(std::memory_order_acquire));
    });
    while (!reading.load(std::memory_order_acquire))
        std::this_thread::yield();
    for (int i = 0; i < kAnnouncements; ++i) {
        effect.dispatch(effSetSampleRate, 0, 0, nullptr, kRates[i % 2]);
        effect.dispatch(effSetBlockSize, 0, kBlockSizes[i % 2]);
    }
    done.store(true, std::memory_order_release);
    audio.join();

    EXPECT_EQ(effect.getSampleRate(), kRates[(kAnnouncements - 1) % 2]);
    EXPECT_EQ(effect.getBlockSize(), kBlockSizes[(kAnnouncements - 1) % 2]);
}

} // namespace
