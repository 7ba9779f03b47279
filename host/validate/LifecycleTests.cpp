// Instances created and destroyed in the ways hosts do: many in a row, many at once
// closed out of order, with and without switching them on, and an entry called by a
// host that answers 0 to the version request; and one instance suspended and resumed
// with another sample rate and block size each time, as when the audio device changes.
#include <algorithm>
#include <numeric>

#include "host/HostCallback.h"
#include "host/validate/AnalysisRun.h"
#include "host/validate/AudioRig.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int kSequentialInstances = 50;
constexpr int kConcurrentInstances = 16;
constexpr int32_t kLifecycleBlock = 256;
constexpr float kDeviceRates[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};
constexpr int32_t kDeviceBlocks[] = {1, 7, 64, 4096, 8192};
constexpr int32_t kLargestDeviceBlock = 8192;
// Audio per setting at the default strictness; the pitch is looked at after the
// settings with this block size (one per rate).
constexpr double kSecondsPerSetting = 0.05;
constexpr int32_t kPitchCheckBlock = 4096;

// A host of an old or broken kind: every request as usual but the version, which it
// answers with 0.
intptr_t KELVATONE_VST_CALL zeroVersionCallback(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt) {
    if (opcode == audioMasterVersion) {
        return 0;
    }
    return hostCallback(effect, opcode, index, value, ptr, opt);
}

Outcome sequentialInstances(Validation& validation) {
    const int count = validation.scaled(kSequentialInstances);
    for (int i = 0; i < count; ++i) {
        std::string error;
        auto instance = validation.instantiate(error);
        if (instance == nullptr) {
            return Outcome::fail("instance " + std::to_string(i + 1) + ": " + error);
        }
        instance->dispatch(effOpen);
        instance->close();
    }
    return Outcome::pass("(" + std::to_string(count) + " instances)");
}

Outcome concurrentInstances(Validation& validation) {
    std::vector<std::unique_ptr<EffectInstance>> instances;
    for (int i = 0; i < kConcurrentInstances; ++i) {
        std::string error;
        instances.push_back(validation.instantiate(error));
        if (instances.back() == nullptr) {
            return Outcome::fail("instance " + std::to_string(i + 1) + " of " +
                                 std::to_string(kConcurrentInstances) + ": " + error);
        }
        switchOn(*instances.back(), kLifecycleBlock);
    }
    for (auto& instance : instances) {
        AudioRig rig(instance->effect(), kLifecycleBlock);
        rig.fill(Signal::Noise, kLifecycleBlock, validation.random());
        rig.process(instance->effect(), kLifecycleBlock);
        if (std::string problem = rig.nonFiniteOutput(kLifecycleBlock); !problem.empty()) {
            return Outcome::fail(problem);
        }
    }
    std::vector<size_t> order(instances.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::shuffle(order.begin(), order.end(), validation.random());
    for (size_t index : order) {
        instances[index]->dispatch(effMainsChanged, 0, 0);
        instances[index]->close();
    }
    return Outcome::pass("(" + std::to_string(kConcurrentInstances) +
                         " alive at once, closed out of order)");
}

Outcome openCloseSequences(Validation& validation) {
    // effOpen and effClose alone; switched on and off in between; closed while on.
    enum class Between { Nothing, OnAndOff, OnOnly };
    for (const Between between : {Between::Nothing, Between::OnAndOff, Between::OnOnly}) {
        for (int round = 0; round < validation.scaled(4); ++round) {
            std::string error;
            auto instance = validation.instantiate(error);
            if (instance == nullptr) {
                return Outcome::fail(error);
            }
            instance->dispatch(effOpen);
            if (between != Between::Nothing) {
                instance->dispatch(effMainsChanged, 0, 1);
            }
            if (between == Between::OnAndOff) {
                instance->dispatch(effMainsChanged, 0, 0);
            }
            instance->close();
        }
    }
    return Outcome::pass();
}

Outcome hostVersionZero(Validation& validation) {
    AEffect* effect = validation.library().entry()(zeroVersionCallback);
    if (effect == nullptr) {
        return Outcome::pass("(the entry returned no effect)");
    }
    if (effect->magic != kEffectMagic || effect->dispatcher == nullptr) {
        return Outcome::fail("the entry returned something that is not an effect");
    }
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return Outcome::pass("(the entry created an effect anyway; it opened and closed)");
}

// Every rate with every block size, in random order, with audio in between; our
// module must find pitches at each rate.
Outcome suspendResumeReconfigure(Validation& validation, AnalysisRun& run) {
    std::vector<std::pair<float, int32_t>> settings;
    for (const float rate : kDeviceRates) {
        for (const int32_t block : kDeviceBlocks) {
            settings.emplace_back(rate, block);
        }
    }
    std::shuffle(settings.begin(), settings.end(), validation.random());
    for (const auto& [rate, block] : settings) {
        run.reconfigure(rate, block);
        const auto frames = static_cast<int64_t>(validation.factor() * kSecondsPerSetting * rate);
        run.feed(Signal::Noise, frames, block);
        if (block == kPitchCheckBlock) {
            run.expectPitchAfter("resuming at " + std::to_string(static_cast<int>(rate)) +
                                     " Hz with blocks of " + std::to_string(block),
                                 block);
        }
    }
    return run.outcome(std::to_string(settings.size()) + " rate and block-size settings");
}

} // namespace

void addLifecycleTests(std::vector<TestCase>& tests) {
    tests.push_back({"lifecycle.sequential-instances", sequentialInstances});
    tests.push_back({"lifecycle.concurrent-instances", concurrentInstances});
    tests.push_back({"lifecycle.open-close", openCloseSequences});
    tests.push_back({"lifecycle.host-version-zero", hostVersionZero});
    tests.push_back(analysisRunTest("lifecycle.suspend-resume-reconfigure", kLargestDeviceBlock,
                                    suspendResumeReconfigure));
}

} // namespace kelvatone::host::validate
