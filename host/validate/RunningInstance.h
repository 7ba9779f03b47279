// The fixture of the tests that work on one running instance of the module: the instance,
// switched on at 44.1 kHz for blocks of up to a given size (switchOn), a rig of that size
// to process through it on the test's own thread, and the problems the test finds. The
// fixture sets the instance up, fails the test with the reason when the module gives no
// instance, and switches the instance off and closes it after the test. The same without
// switching on serves the tests of an instance that has only had effOpen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/ModuleLoader.h"
#include "host/validate/AudioRig.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

// Used by the test's own thread; the instance may be handed to an audio thread meanwhile.
class RunningInstance {
public:
    RunningInstance(EffectInstance& instance, int32_t maxBlock)
        : instance_(instance), maxBlock_(maxBlock) {}

    EffectInstance& instance() { return instance_; }
    vst::AEffect* effect() { return instance_.effect(); }
    // Buffers for blocks of up to the instance's block size, made on first use.
    AudioRig& rig();
    Problems& problems() { return problems_; }

    // Processes one block of `signal` through the rig; empty when its output is right, else
    // what is wrong: written past the block, not finite (when `requireFinite`, for finite
    // input) or, for a pass-through effect, other than the input.
    std::string processChecked(Validation& validation, Signal signal, int32_t frames, bool inPlace,
                               bool requireFinite);

private:
    EffectInstance& instance_;
    int32_t maxBlock_;
    std::unique_ptr<AudioRig> rig_;
    Problems problems_;
};

// What a test does with its running instance.
using RunningTest = std::function<Outcome(Validation&, RunningInstance&)>;

// Runs `body` on a new instance switched on for blocks of up to `maxBlock` frames, then
// switches the instance off and closes it, unless `body` closed it. Fails with the reason
// when the module gives no instance. The validator's thread.
Outcome onRunningInstance(Validation& validation, int32_t maxBlock, const RunningTest& body);

// The test case `name` that runs `body` so.
TestCase runningInstanceTest(std::string name, int32_t maxBlock, RunningTest body);

// What a test does with an instance that has had effOpen and nothing more.
using OpenTest = std::function<Outcome(Validation&, EffectInstance&)>;

// Runs `body` on a new instance after effOpen, then closes the instance, unless `body`
// closed it. Fails with the reason when the module gives no instance. The validator's
// thread.
Outcome onOpenInstance(Validation& validation, const OpenTest& body);

} // namespace kelvatone::host::validate
