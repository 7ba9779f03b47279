#include "host/validate/RunningInstance.h"

#include <utility>

using namespace kelvatone::vst;

namespace kelvatone::host::validate {

AudioRig& RunningInstance::rig() {
    if (rig_ == nullptr) {
        rig_ = std::make_unique<AudioRig>(instance_.effect(), maxBlock_);
    }
    return *rig_;
}

std::string RunningInstance::processChecked(Validation& validation, Signal signal, int32_t frames,
                                            bool inPlace, bool requireFinite) {
    AudioRig& audio = rig();
    audio.fill(signal, frames, validation.random());
    audio.process(instance_.effect(), frames, inPlace);
    return audio.outputProblem(frames, requireFinite, validation.passThrough());
}

namespace {

// Runs `body` on a new instance and closes it afterwards (EffectInstance's destructor
// does nothing for an instance `body` closed); fails when the module gives none.
Outcome onNewInstance(Validation& validation, const std::function<Outcome(EffectInstance&)>& body) {
    std::string error;
    auto instance = validation.instantiate(error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    return body(*instance);
}

} // namespace

Outcome onRunningInstance(Validation& validation, int32_t maxBlock, const RunningTest& body) {
    return onNewInstance(validation, [&](EffectInstance& instance) {
        switchOn(instance, maxBlock);
        RunningInstance running(instance, maxBlock);
        Outcome outcome = body(validation, running);
        if (instance.effect() != nullptr) {
            instance.dispatch(effMainsChanged, 0, 0);
        }
        return outcome;
    });
}

Outcome onOpenInstance(Validation& validation, const OpenTest& body) {
    return onNewInstance(validation, [&](EffectInstance& instance) {
        instance.dispatch(effOpen);
        return body(validation, instance);
    });
}

TestCase runningInstanceTest(std::string name, int32_t maxBlock, RunningTest body) {
    return {std::move(name), [maxBlock, body = std::move(body)](Validation& validation) {
                return onRunningInstance(validation, maxBlock, body);
            }};
}

} // namespace kelvatone::host::validate
