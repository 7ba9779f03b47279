// One thread processes small blocks while another changes every parameter thousands
// of times, "Resolution" among them: the analysis must never run on arrays being
// rebuilt. Run under ThreadSanitizer and AddressSanitizer in CI.
#include "tests/support/FakeHost.h"

#include "analysis/NoteNames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace kelvatone::testsupport;
using namespace kelvatone::analysis;
using namespace kelvatone::plugin;
using namespace kelvatone::vst;

namespace {

constexpr int kParameterChanges = 4000;
constexpr int32_t kSmallBlock = 64;

TEST(ParameterThreads, ResolutionFlipsWhileAudioRuns) {
    Instance instance;
    Kelvatone& effect = instance.kelvatone();
    std::atomic<bool> done{false};
    std::atomic<long> blocks{0};

    std::thread audio([&] {
        StereoBlock block(kSmallBlock);
        long frame = 0;
        while (!done.load()) {
            for (int i = 0; i < kSmallBlock; ++i, ++frame)
                block.left[i] = block.right[i] =
                    static_cast<float>(0.5 * std::sin(0.0627 * static_cast<double>(frame)));
            instance.effect->processReplacing(instance.effect, block.inputs, block.outputs,
                                              kSmallBlock);
            blocks.fetch_add(1);
        }
    });

    // Setting parameters never waits for the audio thread: let it start first, so that the
    // changes meet its process calls.
    while (blocks.load() == 0)
        std::this_thread::yield();
    const float resolutions[] = {0.0f, 0.5f, 1.0f};
    for (int i = 0; i < kParameterChanges; ++i) {
        const float x = resolutions[i % 3];
        instance.setParameter(2, x);
        EXPECT_FLOAT_EQ(instance.getParameter(2), x == 0.0f ? 1 / 3.0f : x)
            << "the new value is reported at once";
        instance.setParameter(0, static_cast<float>(i % 100) / 100.0f);
        instance.setParameter(3, static_cast<float>(i % 50) / 108.0f);
        instance.setParameter(4, static_cast<float>(60 + i % 48) / 108.0f);
        instance.setParameter(5, static_cast<float>(i % 37) / 48.0f);
        instance.setParameter(1, (i & 1) ? 1.0f : 0.0f);
        char text[16];
        instance.dispatch(effGetParamDisplay, i % 6, 0, text);
    }
    done.store(true);
    audio.join();

    // The last change is in force once a process call has run.
    StereoBlock block(kSmallBlock);
    effect.processReplacing(block.inputs, block.outputs, kSmallBlock);
    EXPECT_EQ(effect.engine.fftSize,
              AnalysisEngine::frameLengthFor(44100.0, effect.engine.resolution.load()));
    octaveLabelOffset.store(0);
}

TEST(ParameterThreads, SampleRateChangesWhileAudioRuns) {
    Instance instance;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        StereoBlock block(kSmallBlock);
        while (!done.load())
            instance.effect->processReplacing(instance.effect, block.inputs, block.outputs,
                                              kSmallBlock);
    });
    const float rates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f};
    for (int i = 0; i < 400; ++i)
        instance.dispatch(effSetSampleRate, 0, 0, nullptr, rates[i % 4]);
    done.store(true);
    audio.join();
    StereoBlock block(kSmallBlock);
    instance.kelvatone().processReplacing(block.inputs, block.outputs, kSmallBlock);
    EXPECT_EQ(instance.kelvatone().rateConverter().inputRate(), 22050.0);
    EXPECT_EQ(instance.kelvatone().engine.engineSampleRate, 44100.0);
}

// Automation moves the range's begin on the audio thread while the user drags its end on
// the UI thread: each setter clamps against the other's note, so the two must never end up
// closer than an octave, in any value a reader sees or at the end.
TEST(ParameterThreads, TwoSettersKeepTheRangeAnOctaveWide) {
    constexpr int kChanges = 5000000;
    Instance instance;
    const AnalysisEngine& engine = instance.kelvatone().engine;
    std::atomic<bool> go{false};
    std::atomic<long> narrow{0};
    // Each setter looks at the range right after its own change, when a change of the
    // other end that it did not see would show.
    auto setter = [&](int32_t index, float low, float high) {
        return std::thread([&, index, low, high] {
            while (!go.load())
                std::this_thread::yield();
            long seen = 0;
            for (int i = 0; i < kChanges; ++i) {
                instance.setParameter(index, (i & 1) ? high : low);
                const AnalysisRange range = engine.analysisRange();
                seen += range.begin + kSmallestRangeSpan > range.end ? 1 : 0;
            }
            narrow.fetch_add(seen);
        });
    };
    std::thread begins = setter(3, 12 / 108.0f, 84 / 108.0f);
    std::thread ends = setter(4, 24 / 108.0f, 1.0f);
    go.store(true);
    begins.join();
    ends.join();
    EXPECT_EQ(narrow.load(), 0) << "readings with the begin less than an octave below the end";
    EXPECT_LE(engine.beginNote() + kSmallestRangeSpan, engine.endNote());
}

} // namespace
