// Audio: odd and empty block sizes, sample rates announced while suspended and while
// running, in-place buffers, hostile signals; for a pass-through effect the output
// equals the input bit for bit, and no effect turns finite input into non-finite
// output.
#include <chrono>
#include <climits>
#include <thread>

#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/AudioThread.h"
#include "host/validate/Problems.h"
#include "host/validate/RunningInstance.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kBlockSizes[] = {1, 2, 3, 64, 127, 512, 4096, 8193};
constexpr int32_t kLargestBlock = 8193;
constexpr int32_t kEmptyBlocks[] = {0, -1, -64, INT32_MIN};
constexpr float kSampleRates[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};
constexpr int32_t kRateBlock = 512;
constexpr int32_t kProbeBlocks[] = {64, 512, 127, 4096, 1};
// Audio per block size, per sample rate and per signal at the default strictness.
constexpr double kSecondsPerCase = 0.25;
constexpr double kRecoverySeconds = 1.0;
constexpr auto kRunningRateDuration = std::chrono::milliseconds(400);
constexpr Signal kFiniteSignals[] = {Signal::Silence,    Signal::Noise,      Signal::FullScaleNoise,
                                     Signal::DcPositive, Signal::DcNegative, Signal::Denormal,
                                     Signal::Sine};
constexpr Signal kNonFiniteSignals[] = {Signal::Nan, Signal::PositiveInfinity,
                                        Signal::NegativeInfinity};

// Number of blocks of `blockSize` that make up `seconds` at 44.1 kHz, scaled.
int blocksFor(const Validation& validation, double seconds, int32_t blockSize) {
    const double frames = seconds * kDefaultSampleRate;
    return validation.scaled(std::max(1, static_cast<int>(frames / blockSize)));
}

// Processes one block and notes what is wrong with its output, with `where`.
void processChecked(RunningInstance& running, Validation& validation, Signal signal, int32_t frames,
                    bool inPlace, bool requireFinite, const std::string& where) {
    const std::string problem =
        running.processChecked(validation, signal, frames, inPlace, requireFinite);
    if (!problem.empty()) {
        running.problems().add(where + ", " + signalName(signal) + ": " + problem);
    }
}

// The outcome of a test whose blocks processChecked checked.
Outcome checkedOutcome(RunningInstance& running, const Validation& validation) {
    return running.problems().outcome(validation.passThrough() ? "(output equal to input)" : "");
}

// probePassThrough's measurement: finite noise in several block sizes, the output compared
// with the input bit for bit.
Outcome measurePassThrough(Validation& validation, RunningInstance& running) {
    AudioRig& rig = running.rig();
    std::string difference;
    for (const int32_t frames : kProbeBlocks) {
        for (int block = 0;
             block < blocksFor(validation, kSecondsPerCase, frames) && difference.empty();
             ++block) {
            rig.fill(Signal::Noise, frames, validation.random());
            rig.process(running.effect(), frames);
            difference = rig.differenceFromInput(frames);
        }
    }
    if (rig.inputCount() == 0 || rig.outputCount() == 0) {
        return Outcome::pass("(not a pass-through effect: no inputs or no outputs)");
    }
    Outcome outcome = difference.empty()
                          ? Outcome::pass("(output equals input for finite noise: required "
                                          "bit for bit for every input from here on)")
                          : Outcome::pass("(not a pass-through effect: " + difference + ")");
    outcome.passThrough = difference.empty();
    return outcome;
}

} // namespace

Outcome probePassThrough(Validation& validation) {
    return onRunningInstance(validation, kLargestBlock, measurePassThrough);
}

namespace {

Outcome blockSizes(Validation& validation, RunningInstance& running) {
    for (const int32_t frames : kBlockSizes) {
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, frames); ++block) {
            processChecked(running, validation, Signal::Noise, frames, false, true,
                           "block size " + std::to_string(frames));
        }
    }
    return checkedOutcome(running, validation);
}

Outcome emptyBlocks(Validation& validation, RunningInstance& running) {
    AudioRig& rig = running.rig();
    for (const int32_t frames : kEmptyBlocks) {
        rig.fill(Signal::Noise, kRateBlock, validation.random());
        rig.process(running.effect(), frames);
        if (std::string written = rig.outputsWritten(); !written.empty()) {
            running.problems().add("sampleFrames " + std::to_string(frames) + ": " + written);
        }
    }
    processChecked(running, validation, Signal::Noise, kRateBlock, false, true,
                   "a normal block afterwards");
    return running.problems().outcome();
}

Outcome ratesWhileSuspended(Validation& validation, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    for (const float rate : kSampleRates) {
        instance.dispatch(effMainsChanged, 0, 0);
        instance.context().sampleRate.store(rate, std::memory_order_relaxed);
        instance.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        instance.dispatch(effSetBlockSize, 0, kRateBlock);
        instance.dispatch(effMainsChanged, 0, 1);
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(running, validation, block % 2 == 0 ? Signal::Sine : Signal::Noise,
                           kRateBlock, false, true, std::to_string(static_cast<int>(rate)) + " Hz");
        }
    }
    return checkedOutcome(running, validation);
}

Outcome ratesWhileRunning(Validation& validation, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    // Between process calls on the audio thread's own turn ...
    for (const float rate : kSampleRates) {
        instance.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(running, validation, Signal::Noise, kRateBlock, false, true,
                           std::to_string(static_cast<int>(rate)) + " Hz");
        }
    }
    // ... and from the UI thread while the audio thread processes.
    size_t next = 0;
    const auto duration = validation.scaled(kRunningRateDuration);
    const ProcessingReport report = processWhile(instance, validation, kRateBlock, 0, [&] {
        repeatFor(duration, [&] {
            instance.dispatch(effSetSampleRate, 0, 0, nullptr,
                              kSampleRates[next++ % std::size(kSampleRates)]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    });
    if (!report.problem.empty()) {
        running.problems().add("rates changed during processing: " + report.problem);
    }
    return checkedOutcome(running, validation);
}

Outcome inPlace(Validation& validation, RunningInstance& running) {
    for (int block = 0; block < blocksFor(validation, kSecondsPerCase * 2, kRateBlock); ++block) {
        processChecked(running, validation, Signal::Noise, kRateBlock, true, true, "in place");
        processChecked(running, validation, Signal::Sine, kRateBlock, false, true,
                       "separate buffers");
    }
    return checkedOutcome(running, validation);
}

// Feeds each signal for a while; requireFinite asks for finite output from every block.
template <size_t Count>
void processSignals(RunningInstance& running, Validation& validation,
                    const Signal (&signals)[Count], bool requireFinite) {
    for (const Signal signal : signals) {
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(running, validation, signal, kRateBlock, false, requireFinite,
                           "block " + std::to_string(block));
        }
    }
}

Outcome finiteSignals(Validation& validation, RunningInstance& running) {
    processSignals(running, validation, kFiniteSignals, true);
    return checkedOutcome(running, validation);
}

Outcome nonFiniteSignals(Validation& validation, RunningInstance& running) {
    processSignals(running, validation, kNonFiniteSignals, false);
    // Finite input again: after a second of it the output must be finite once more.
    const int recovery = blocksFor(validation, kRecoverySeconds, kRateBlock);
    for (int block = 0; block < recovery; ++block) {
        processChecked(running, validation, Signal::Noise, kRateBlock, false, block == recovery - 1,
                       "finite input after NaN and infinities");
    }
    return checkedOutcome(running, validation);
}

} // namespace

void addAudioTests(std::vector<TestCase>& tests) {
    tests.push_back(runningInstanceTest("audio.block-sizes", kLargestBlock, blockSizes));
    tests.push_back(runningInstanceTest("audio.empty-blocks", kRateBlock, emptyBlocks));
    tests.push_back(
        runningInstanceTest("audio.sample-rates-suspended", kRateBlock, ratesWhileSuspended));
    tests.push_back(
        runningInstanceTest("audio.sample-rates-running", kRateBlock, ratesWhileRunning));
    tests.push_back(runningInstanceTest("audio.in-place", kRateBlock, inPlace));
    tests.push_back(runningInstanceTest("audio.finite-signals", kRateBlock, finiteSignals));
    tests.push_back(runningInstanceTest("audio.non-finite-signals", kRateBlock, nonFiniteSignals));
}

} // namespace kelvatone::host::validate
