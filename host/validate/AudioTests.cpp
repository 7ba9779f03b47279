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

std::unique_ptr<EffectInstance> runningInstance(Validation& validation, int32_t blockSize,
                                                std::string& error,
                                                float rate = kDefaultSampleRate) {
    auto instance = validation.instantiate(error);
    if (instance != nullptr) {
        instance->dispatch(effOpen);
        instance->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        instance->dispatch(effSetBlockSize, 0, blockSize);
        instance->dispatch(effMainsChanged, 0, 1);
    }
    return instance;
}

void finish(EffectInstance& instance) {
    instance.dispatch(effMainsChanged, 0, 0);
    instance.close();
}

// Number of blocks of `blockSize` that make up `seconds` at 44.1 kHz, scaled.
int blocksFor(const Validation& validation, double seconds, int32_t blockSize) {
    const double frames = seconds * kDefaultSampleRate;
    return validation.scaled(std::max(1, static_cast<int>(frames / blockSize)));
}

// Processes one block and notes what is wrong with its output. `requireFinite` for
// finite input; pass-through effects must reproduce the input in any case.
void processChecked(AudioRig& rig, AEffect* effect, Validation& validation, Signal signal,
                    int32_t frames, bool inPlace, bool requireFinite, const std::string& where,
                    Problems& problems) {
    rig.fill(signal, frames, validation.random());
    rig.process(effect, frames, inPlace);
    std::string problem = rig.guardDamage(frames);
    if (problem.empty() && requireFinite) {
        problem = rig.nonFiniteOutput(frames);
    }
    if (problem.empty() && validation.passThrough()) {
        problem = rig.differenceFromInput(frames);
    }
    if (!problem.empty()) {
        problems.add(where + ", " + signalName(signal) + ": " + problem);
    }
}

std::string passThroughNote(const Validation& validation) {
    return validation.passThrough() ? "(output equal to input)" : "";
}

} // namespace

Outcome probePassThrough(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kLargestBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kLargestBlock);
    std::string difference;
    for (const int32_t frames : kProbeBlocks) {
        for (int block = 0;
             block < blocksFor(validation, kSecondsPerCase, frames) && difference.empty();
             ++block) {
            rig.fill(Signal::Noise, frames, validation.random());
            rig.process(instance->effect(), frames);
            difference = rig.differenceFromInput(frames);
        }
    }
    finish(*instance);
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

namespace {

Outcome blockSizes(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kLargestBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kLargestBlock);
    Problems problems;
    for (const int32_t frames : kBlockSizes) {
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, frames); ++block) {
            processChecked(rig, instance->effect(), validation, Signal::Noise, frames, false, true,
                           "block size " + std::to_string(frames), problems);
        }
    }
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

Outcome emptyBlocks(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kRateBlock);
    Problems problems;
    for (const int32_t frames : kEmptyBlocks) {
        rig.fill(Signal::Noise, kRateBlock, validation.random());
        rig.process(instance->effect(), frames);
        if (std::string written = rig.outputsWritten(); !written.empty()) {
            problems.add("sampleFrames " + std::to_string(frames) + ": " + written);
        }
    }
    processChecked(rig, instance->effect(), validation, Signal::Noise, kRateBlock, false, true,
                   "a normal block afterwards", problems);
    finish(*instance);
    return problems.outcome();
}

Outcome ratesWhileSuspended(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kRateBlock);
    Problems problems;
    for (const float rate : kSampleRates) {
        instance->dispatch(effMainsChanged, 0, 0);
        instance->context().sampleRate.store(rate, std::memory_order_relaxed);
        instance->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        instance->dispatch(effSetBlockSize, 0, kRateBlock);
        instance->dispatch(effMainsChanged, 0, 1);
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(rig, instance->effect(), validation,
                           block % 2 == 0 ? Signal::Sine : Signal::Noise, kRateBlock, false, true,
                           std::to_string(static_cast<int>(rate)) + " Hz", problems);
        }
    }
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

Outcome ratesWhileRunning(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    Problems problems;
    // Between process calls on the audio thread's own turn ...
    AudioRig rig(instance->effect(), kRateBlock);
    for (const float rate : kSampleRates) {
        instance->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(rig, instance->effect(), validation, Signal::Noise, kRateBlock, false,
                           true, std::to_string(static_cast<int>(rate)) + " Hz", problems);
        }
    }
    // ... and from the UI thread while the audio thread processes.
    size_t next = 0;
    const auto duration = validation.scaled(kRunningRateDuration);
    const ProcessingReport report = processWhile(*instance, validation, kRateBlock, 0, [&] {
        repeatFor(duration, [&] {
            instance->dispatch(effSetSampleRate, 0, 0, nullptr,
                               kSampleRates[next++ % std::size(kSampleRates)]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    });
    if (!report.problem.empty()) {
        problems.add("rates changed during processing: " + report.problem);
    }
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

Outcome inPlace(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kRateBlock);
    Problems problems;
    for (int block = 0; block < blocksFor(validation, kSecondsPerCase * 2, kRateBlock); ++block) {
        processChecked(rig, instance->effect(), validation, Signal::Noise, kRateBlock, true, true,
                       "in place", problems);
        processChecked(rig, instance->effect(), validation, Signal::Sine, kRateBlock, false, true,
                       "separate buffers", problems);
    }
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

// Feeds each signal for a while; requireFinite asks for finite output from every block.
template <size_t Count>
void processSignals(AudioRig& rig, EffectInstance& instance, Validation& validation,
                    const Signal (&signals)[Count], bool requireFinite, Problems& problems) {
    for (const Signal signal : signals) {
        for (int block = 0; block < blocksFor(validation, kSecondsPerCase, kRateBlock); ++block) {
            processChecked(rig, instance.effect(), validation, signal, kRateBlock, false,
                           requireFinite, "block " + std::to_string(block), problems);
        }
    }
}

Outcome finiteSignals(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kRateBlock);
    Problems problems;
    processSignals(rig, *instance, validation, kFiniteSignals, true, problems);
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

Outcome nonFiniteSignals(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, kRateBlock, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AudioRig rig(instance->effect(), kRateBlock);
    Problems problems;
    processSignals(rig, *instance, validation, kNonFiniteSignals, false, problems);
    // Finite input again: after a second of it the output must be finite once more.
    const int recovery = blocksFor(validation, kRecoverySeconds, kRateBlock);
    for (int block = 0; block < recovery; ++block) {
        processChecked(rig, instance->effect(), validation, Signal::Noise, kRateBlock, false,
                       block == recovery - 1, "finite input after NaN and infinities", problems);
    }
    finish(*instance);
    return problems.outcome(passThroughNote(validation));
}

} // namespace

void addAudioTests(std::vector<TestCase>& tests) {
    tests.push_back({"audio.block-sizes", blockSizes});
    tests.push_back({"audio.empty-blocks", emptyBlocks});
    tests.push_back({"audio.sample-rates-suspended", ratesWhileSuspended});
    tests.push_back({"audio.sample-rates-running", ratesWhileRunning});
    tests.push_back({"audio.in-place", inPlace});
    tests.push_back({"audio.finite-signals", finiteSignals});
    tests.push_back({"audio.non-finite-signals", nonFiniteSignals});
}

} // namespace kelvatone::host::validate
