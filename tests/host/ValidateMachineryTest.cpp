// The validator's own machinery where a mistake would hide a module's fault: the
// audio rig's guard area and bit-exact comparison, the audio-thread counters (only
// the thread inside the module counts, try-locks do not), and the MIDI lists.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "host/validate/AudioRig.h"
#include "host/validate/MidiLists.h"
#include "host/validate/RealtimeMonitor.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kBlock = 64;
constexpr int kChannels = 2;

// Process functions standing in for modules; `frames` may be anything.
void copyExactly(AEffect*, float** in, float** out, int32_t frames) {
    for (int c = 0; c < kChannels; ++c) {
        for (int32_t i = 0; i < frames; ++i) {
            out[c][i] = in[c][i];
        }
    }
}
void copyOneTooMany(AEffect* effect, float** in, float** out, int32_t frames) {
    copyExactly(effect, in, out, frames + 1);
}
void negateZero(AEffect*, float** in, float** out, int32_t frames) {
    for (int c = 0; c < kChannels; ++c) {
        for (int32_t i = 0; i < frames; ++i) {
            out[c][i] = in[c][i] == 0.0f ? -0.0f : in[c][i];
        }
    }
}
void writeFirstSampleAlways(AEffect*, float**, float** out, int32_t) {
    out[1][0] = 0.0f;
}
// Escapes the allocation so that the compiler keeps it.
std::atomic<int*> escaped{nullptr};

void allocateAndLock(AEffect*, float**, float**, int32_t) {
    static std::mutex mutex;
    mutex.lock();
    mutex.unlock();
    if (mutex.try_lock()) {
        mutex.unlock();
    }
    escaped.store(new int(1));
    delete escaped.exchange(nullptr);
    std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(1));
}

AEffect effectWith(AEffectProcessProc process) {
    AEffect effect{};
    effect.magic = kEffectMagic;
    effect.numInputs = kChannels;
    effect.numOutputs = kChannels;
    effect.flags = effFlagsCanReplacing;
    effect.processReplacing = process;
    return effect;
}

TEST(AudioRigTest, CatchesWritesPastTheBlockAndChangedBitsButNotExactCopies) {
    std::mt19937_64 random(1);
    AEffect exact = effectWith(copyExactly);
    AudioRig rig(&exact, kBlock);
    rig.fill(Signal::Noise, kBlock, random);
    rig.process(&exact, kBlock);
    EXPECT_EQ(rig.guardDamage(kBlock), "");
    EXPECT_EQ(rig.differenceFromInput(kBlock), "");
    EXPECT_EQ(rig.nonFiniteOutput(kBlock), "");

    // A shorter block after a longer one: the stale samples beyond it are no damage.
    rig.process(&exact, kBlock / 2);
    EXPECT_EQ(rig.guardDamage(kBlock / 2), "");

    AEffect overrun = effectWith(copyOneTooMany);
    rig.process(&overrun, kBlock / 2);
    EXPECT_NE(rig.guardDamage(kBlock / 2).find("wrote past the 32 frames"), std::string::npos);

    AEffect signFlip = effectWith(negateZero);
    rig.fill(Signal::Silence, kBlock, random);
    rig.process(&signFlip, kBlock);
    EXPECT_NE(rig.differenceFromInput(kBlock).find("channel 0, frame 0"), std::string::npos);
}

TEST(AudioRigTest, NonFiniteInputPassedThroughIsEqualButNotFinite) {
    std::mt19937_64 random(2);
    AEffect exact = effectWith(copyExactly);
    AudioRig rig(&exact, kBlock);
    rig.fill(Signal::Nan, kBlock, random);
    rig.process(&exact, kBlock, true);
    EXPECT_EQ(rig.differenceFromInput(kBlock), "");
    EXPECT_NE(rig.nonFiniteOutput(kBlock).find("non-finite output nan"), std::string::npos);
}

TEST(AudioRigTest, AnyWriteForAnEmptyBlockIsSeen) {
    std::mt19937_64 random(3);
    AEffect exact = effectWith(copyExactly);
    AudioRig rig(&exact, kBlock);
    rig.process(&exact, -1);
    EXPECT_EQ(rig.outputsWritten(), "");
    AEffect careless = effectWith(writeFirstSampleAlways);
    rig.process(&careless, 0);
    EXPECT_NE(rig.outputsWritten().find("channel 1, frame 0"), std::string::npos);
}

TEST(RealtimeCountsTest, CountsOnlyTheThreadInsideTheModuleAndNoTryLock) {
    if (!validate::countingAvailable()) {
        GTEST_SKIP() << "no allocation counting in this build";
    }
    AEffect effect = effectWith(allocateAndLock);
    float* channels[kChannels] = {nullptr, nullptr};
    validate::resetCounts();
    {
        validate::InsideModule inside;
        effect.processReplacing(&effect, channels, channels, kBlock);
    }
    const validate::Counts inside = validate::counts();
    EXPECT_EQ(inside.allocations, 1u);
    EXPECT_EQ(inside.releases, 1u);
    EXPECT_EQ(inside.mutexLocks, 1u);
    EXPECT_EQ(inside.waits, 2u) << "one yield, one sleep";

    // The same calls outside the flag, and on another thread while this one is
    // inside, count nothing. The other thread exists before the flag is set: making
    // it allocates on this thread.
    std::atomic<int> stage{0};
    std::thread other([&] {
        while (stage.load() != 1) {
            std::this_thread::yield();
        }
        effect.processReplacing(&effect, channels, channels, kBlock);
        stage.store(2);
    });
    validate::resetCounts();
    effect.processReplacing(&effect, channels, channels, kBlock);
    {
        validate::InsideModule flagged;
        stage.store(1);
        // Spins without yielding: a yield on this flagged thread would count.
        while (stage.load() != 2) {
        }
    }
    other.join();
    EXPECT_FALSE(validate::counts().any()) << validate::describe(validate::counts());
}

TEST(MidiListsTest, RandomListsStayInsideTheBlockInOrder) {
    std::mt19937_64 seed(4);
    MidiLists lists(seed);
    bool sawHighNoteByte = false, sawSysex = false;
    for (int round = 0; round < 200; ++round) {
        VstEvents* events = lists.next(kBlock);
        ASSERT_GE(events->numEvents, 0);
        ASSERT_LE(events->numEvents, kMaxListEvents);
        int32_t previous = 0;
        for (int i = 0; i < events->numEvents; ++i) {
            const VstEvent* event = events->events[i];
            EXPECT_GE(event->deltaFrames, previous);
            EXPECT_LT(event->deltaFrames, kBlock);
            previous = event->deltaFrames;
            if (event->type == kVstSysExType) {
                sawSysex = true;
            } else {
                ASSERT_EQ(event->type, kVstMidiType);
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
                sawHighNoteByte |= static_cast<uint8_t>(midi->midiData[1]) > 127;
            }
        }
    }
    EXPECT_TRUE(sawHighNoteByte);
    EXPECT_TRUE(sawSysex);
    EXPECT_EQ(lists.withCount(-1, 4)->numEvents, -1);
    EXPECT_EQ(lists.noteOns(15, 120, 64)->numEvents, 64);
}

} // namespace
} // namespace kelvatone::host::validate
