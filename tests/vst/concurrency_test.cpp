// The host may announce sample rate and block size on one thread while the audio
// thread reads them: every read must see one of the values written (run under
// ThreadSanitizer too, which reports any unsynchronised access).
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kelvatone::vst;

namespace {

constexpr int kAnnouncements = 100000;
constexpr float kRates[2] = {44100.0f, 96000.0f};
constexpr int32_t kBlockSizes[2] = {64, 4096};

TEST(SettingsAcrossThreads, ReadsSeeOnlyWrittenValues) {
    TestEffect effect(nullptr);
    effect.setSampleRate(kRates[0]);
    effect.setBlockSize(kBlockSizes[0]);
    std::atomic<bool> reading{false};
    std::atomic<bool> done{false};
    int unexpected = 0;
    int reads = 0;

    std::thread audio([&] {
        reading.store(true, std::memory_order_release);
        while (!done.load(std::memory_order_acquire)) {
            const float rate = effect.getSampleRate();
            const int32_t size = effect.getBlockSize();
            if ((rate != kRates[0] && rate != kRates[1]) ||
                (size != kBlockSizes[0] && size != kBlockSizes[1])) {
                ++unexpected;
            }
            ++reads;
        }
    });
    while (!reading.load(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    for (int i = 0; i < kAnnouncements; ++i) {
        effect.dispatch(effSetSampleRate, 0, 0, nullptr, kRates[i % 2]);
        effect.dispatch(effSetBlockSize, 0, kBlockSizes[i % 2]);
    }
    done.store(true, std::memory_order_release);
    audio.join();

    EXPECT_EQ(unexpected, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(effect.getSampleRate(), kRates[(kAnnouncements - 1) % 2]);
    EXPECT_EQ(effect.getBlockSize(), kBlockSizes[(kAnnouncements - 1) % 2]);
}

} // namespace
