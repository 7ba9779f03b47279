#include "host/validate/AudioThread.h"

#include <atomic>
#include <thread>

#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/MidiLists.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {
constexpr double kPlaybackSpeed = 2.0;
} // namespace

ProcessingReport processWhile(EffectInstance& instance, Validation& validation, int32_t blockSize,
                              int eventsEvery, const std::function<void()>& work, Pace pace,
                              const AudioThreadTurn& turn, Signal signal) {
    ProcessingReport report;
    AEffect* effect = instance.effect();
    // Everything the audio thread touches is made here, before it starts.
    AudioRig rig(effect, blockSize);
    MidiLists lists(validation.random());
    std::mt19937_64 audioRandom(validation.random()());
    const bool passThrough = validation.passThrough();
    // Written by this thread, read by the audio thread.
    std::atomic<bool> stop{false};
    resetCounts();
    const auto blockDuration = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(blockSize / (kDefaultSampleRate * kPlaybackSpeed)));
    std::thread audio([&] {
        markAudioThread(true);
        auto due = std::chrono::steady_clock::now();
        while (!stop.load(std::memory_order_acquire)) {
            if (pace == Pace::Playback) {
                std::this_thread::sleep_until(due);
                due += blockDuration;
            }
            const Counts before = counts();
            if (turn) {
                {
                    InsideModule inside;
                    turn(report.blocks);
                }
                report.turnCounts += counts() - before;
            }
            if (eventsEvery > 0 && report.blocks % eventsEvery == 0) {
                VstEvents* events = lists.next(blockSize);
                InsideModule inside;
                instance.dispatch(effProcessEvents, 0, 0, events);
            }
            rig.fill(signal, blockSize, audioRandom);
            rig.process(effect, blockSize);
            if ((counts() - before).any()) {
                ++report.blocksWithCounts;
            }
            ++report.blocks;
            if (!report.problem.empty()) {
                continue;
            }
            report.problem = rig.outputProblem(blockSize, true, passThrough);
        }
        markAudioThread(false);
    });
    work();
    stop.store(true, std::memory_order_release);
    audio.join();
    report.counts = counts();
    return report;
}

void repeatFor(std::chrono::milliseconds duration, const std::function<void()>& step) {
    const auto end = std::chrono::steady_clock::now() + duration;
    do {
        step();
    } while (std::chrono::steady_clock::now() < end);
}

} // namespace kelvatone::host::validate
