// Instances created and destroyed in the ways hosts do: many in a row, many at once
// closed out of order, with and without switching them on, and an entry called by a
// host that answers 0 to the version request.
#include <algorithm>
#include <numeric>

#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {
namespace {

constexpr int kSequentialInstances = 50;
constexpr int kConcurrentInstances = 16;
constexpr int32_t kLifecycleBlock = 256;

// A host of an old or broken kind: every request as usual but the version, which it
// answers with 0.
intptr_t KELVATONE_VST_CALL zeroVersionCallback(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt) {
    if (opcode == audioMasterVersion) {
        return 0;
    }
    return hostCallback(effect, opcode, index, value, ptr, opt);
}

void switchOn(EffectInstance& instance) {
    instance.dispatch(effOpen);
    instance.dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
    instance.dispatch(effSetBlockSize, 0, kLifecycleBlock);
    instance.dispatch(effMainsChanged, 0, 1);
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
        switchOn(*instances.back());
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

} // namespace

void addLifecycleTests(std::vector<TestCase>& tests) {
    tests.push_back({"lifecycle.sequential-instances", sequentialInstances});
    tests.push_back({"lifecycle.concurrent-instances", concurrentInstances});
    tests.push_back({"lifecycle.open-close", openCloseSequences});
    tests.push_back({"lifecycle.host-version-zero", hostVersionZero});
}

} // namespace kelvatone::host::validate
