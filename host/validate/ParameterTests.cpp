// Parameters: texts of every index within their limits, values in 0..1 and far
// outside it read back inside 0..1, and changes from a second thread while the
// audio thread processes.
#include <chrono>
#include <cmath>
#include <limits>

#include "host/GuardedText.h"
#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/AudioThread.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kParameterBlock = 256;
constexpr int kRandomRounds = 20;
constexpr auto kConcurrentDuration = std::chrono::milliseconds(600);
constexpr float kHostileValues[] = {-1.0f,
                                    2.0f,
                                    -1e30f,
                                    1e30f,
                                    std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    std::numeric_limits<float>::denorm_min(),
                                    1.0000001f};

void checkText(EffectInstance& instance, int32_t opcode, int32_t index, const char* what,
               Problems& problems) {
    GuardedText text;
    instance.dispatch(opcode, index, 0, text.data());
    // A buffer left untouched is an answer too: the module has no such text.
    if (text.bytesWritten() > 0 && text.overran()) {
        problems.add(text.overrunWarning("parameter " + std::to_string(index) + " " + what));
    }
}

void checkReadBack(AEffect* effect, int32_t index, float sent, Problems& problems) {
    const float value = effect->getParameter(effect, index);
    if (!(value >= 0.0f && value <= 1.0f)) {
        problems.add("parameter " + std::to_string(index) + " reads back " + formatSample(value) +
                     " after " + formatSample(sent) + ", outside 0..1");
    }
}

void setAndCheck(EffectInstance& instance, int32_t index, float value, Problems& problems) {
    AEffect* effect = instance.effect();
    effect->setParameter(effect, index, value);
    checkReadBack(effect, index, value, problems);
    checkText(instance, effGetParamDisplay, index, "display", problems);
}

std::unique_ptr<EffectInstance> runningInstance(Validation& validation, std::string& error) {
    auto instance = validation.instantiate(error);
    if (instance != nullptr) {
        instance->dispatch(effOpen);
        instance->dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
        instance->dispatch(effSetBlockSize, 0, kParameterBlock);
        instance->dispatch(effMainsChanged, 0, 1);
    }
    return instance;
}

Outcome parameterTexts(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    Problems problems;
    const int32_t count = instance->effect()->numParams;
    for (int32_t index = 0; index < count; ++index) {
        checkText(*instance, effGetParamName, index, "name", problems);
        checkText(*instance, effGetParamLabel, index, "label", problems);
        checkText(*instance, effGetParamDisplay, index, "display", problems);
        checkReadBack(instance->effect(), index,
                      instance->effect()->getParameter(instance->effect(), index), problems);
    }
    instance->close();
    return problems.outcome("(" + std::to_string(count) + " parameters)");
}

Outcome parameterValues(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    Problems problems;
    const int32_t count = instance->effect()->numParams;
    for (int round = 0; round < validation.scaled(kRandomRounds); ++round) {
        for (int32_t index = 0; index < count; ++index) {
            setAndCheck(*instance, index, validation.uniformFloat(0.0f, 1.0f), problems);
        }
    }
    for (int32_t index = 0; index < count; ++index) {
        setAndCheck(*instance, index, 0.0f, problems);
        setAndCheck(*instance, index, 1.0f, problems);
    }
    for (const float value : kHostileValues) {
        for (int32_t index = 0; index < count; ++index) {
            setAndCheck(*instance, index, value, problems);
        }
    }
    instance->close();
    return problems.outcome();
}

Outcome changesWhileProcessing(Validation& validation) {
    std::string error;
    auto instance = runningInstance(validation, error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AEffect* effect = instance->effect();
    if (effect->numParams == 0) {
        instance->close();
        return Outcome::pass("(skipped: no parameters)");
    }
    Problems problems;
    const auto duration = validation.scaled(kConcurrentDuration);
    const ProcessingReport report = processWhile(*instance, validation, kParameterBlock, 0, [&] {
        repeatFor(duration, [&] {
            const auto index = static_cast<int32_t>(validation.uniform(0, effect->numParams - 1));
            effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
        });
    });
    if (!report.problem.empty()) {
        problems.add("audio thread: " + report.problem);
    }
    instance->dispatch(effMainsChanged, 0, 0);
    instance->close();
    return problems.outcome("(" + std::to_string(report.blocks) + " blocks processed meanwhile)");
}

} // namespace

void addParameterTests(std::vector<TestCase>& tests) {
    tests.push_back({"parameters.texts", parameterTexts});
    tests.push_back({"parameters.values", parameterValues});
    tests.push_back({"parameters.changes-while-processing", changesWhileProcessing});
}

} // namespace kelvatone::host::validate
