// Parameters: texts of every index within their limits, values in 0..1 and far
// outside it read back inside 0..1, changes from a second thread while the audio
// thread processes, and changes from the audio thread, the UI thread and a third
// thread at once, after which the instance must answer as a fresh one does.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "host/GuardedText.h"
#include "host/HostCallback.h"
#include "host/validate/AudioRig.h"
#include "host/validate/AudioThread.h"
#include "host/validate/Problems.h"
#include "host/validate/RunningInstance.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kParameterBlock = 256;
constexpr int kRandomRounds = 20;
constexpr auto kConcurrentDuration = std::chrono::milliseconds(600);
constexpr int kTurnValues = 4096;
// The settings both instances go through after the race, index by index.
constexpr float kSettledValues[] = {0.0f, 1.0f, 0.3f, 0.75f, 0.5f};
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

// The test `body` on a running instance of a module that has parameters; one without
// passes with "(skipped: no parameters)".
RunningTest withParameters(RunningTest body) {
    return [body = std::move(body)](Validation& validation, RunningInstance& running) {
        if (running.effect()->numParams == 0) {
            return Outcome::pass("(skipped: no parameters)");
        }
        return body(validation, running);
    };
}

Outcome parameterTexts(Validation&, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    AEffect* effect = running.effect();
    Problems& problems = running.problems();
    const int32_t count = effect->numParams;
    for (int32_t index = 0; index < count; ++index) {
        checkText(instance, effGetParamName, index, "name", problems);
        checkText(instance, effGetParamLabel, index, "label", problems);
        checkText(instance, effGetParamDisplay, index, "display", problems);
        checkReadBack(effect, index, effect->getParameter(effect, index), problems);
    }
    return problems.outcome("(" + std::to_string(count) + " parameters)");
}

Outcome parameterValues(Validation& validation, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    Problems& problems = running.problems();
    const int32_t count = running.effect()->numParams;
    for (int round = 0; round < validation.scaled(kRandomRounds); ++round) {
        for (int32_t index = 0; index < count; ++index) {
            setAndCheck(instance, index, validation.uniformFloat(0.0f, 1.0f), problems);
        }
    }
    for (int32_t index = 0; index < count; ++index) {
        setAndCheck(instance, index, 0.0f, problems);
        setAndCheck(instance, index, 1.0f, problems);
    }
    for (const float value : kHostileValues) {
        for (int32_t index = 0; index < count; ++index) {
            setAndCheck(instance, index, value, problems);
        }
    }
    return problems.outcome();
}

Outcome changesWhileProcessing(Validation& validation, RunningInstance& running) {
    AEffect* effect = running.effect();
    Problems& problems = running.problems();
    const auto duration = validation.scaled(kConcurrentDuration);
    const ProcessingReport report =
        processWhile(running.instance(), validation, kParameterBlock, 0, [&] {
            repeatFor(duration, [&] {
                const auto index =
                    static_cast<int32_t>(validation.uniform(0, effect->numParams - 1));
                effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
            });
        });
    if (!report.problem.empty()) {
        problems.add("audio thread: " + report.problem);
    }
    return problems.outcome("(" + std::to_string(report.blocks) + " blocks processed meanwhile)");
}

std::string displayOf(EffectInstance& instance, int32_t index) {
    GuardedText text;
    instance.dispatch(effGetParamDisplay, index, 0, text.data());
    return std::string(text.data(), strnlen(text.data(), GuardedText::kCapacity));
}

// Sets every parameter to each of kSettledValues in turn on both instances and notes
// where the raced one answers otherwise than the fresh one.
void compareWithFresh(EffectInstance& raced, EffectInstance& fresh, Problems& problems) {
    AEffect* racedEffect = raced.effect();
    AEffect* freshEffect = fresh.effect();
    const int32_t count = std::min(racedEffect->numParams, freshEffect->numParams);
    for (const float value : kSettledValues) {
        for (int32_t index = 0; index < count; ++index) {
            racedEffect->setParameter(racedEffect, index, value);
            freshEffect->setParameter(freshEffect, index, value);
        }
        for (int32_t index = 0; index < count; ++index) {
            const float racedValue = racedEffect->getParameter(racedEffect, index);
            const float freshValue = freshEffect->getParameter(freshEffect, index);
            const std::string racedText = displayOf(raced, index);
            const std::string freshText = displayOf(fresh, index);
            if (std::memcmp(&racedValue, &freshValue, sizeof racedValue) != 0 ||
                racedText != freshText) {
                problems.add("after the race, all parameters set to " + formatSample(value) +
                             ": parameter " + std::to_string(index) + " reads " +
                             formatSample(racedValue) + " \"" + racedText +
                             "\", a fresh instance " + formatSample(freshValue) + " \"" +
                             freshText + "\"");
            }
        }
    }
}

Outcome threeThreads(Validation& validation, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    AEffect* effect = running.effect();
    const int32_t count = effect->numParams;
    // The audio thread's values are drawn up front: its turns allocate nothing.
    std::vector<float> turnValues(kTurnValues);
    for (float& value : turnValues) {
        value = validation.uniformFloat(0.0f, 1.0f);
    }
    long turnCalls = 0;
    auto automate = [&](long block) {
        const auto at = static_cast<size_t>(block) % turnValues.size();
        effect->setParameter(effect, static_cast<int32_t>(at % static_cast<size_t>(count)),
                             turnValues[at]);
        ++turnCalls;
    };
    // Written by the UI thread, read by the third thread.
    std::atomic<bool> stop{false};
    std::atomic<long> thirdCalls{0};
    std::mt19937_64 thirdRandom(validation.random()());
    std::thread third([&] {
        std::uniform_int_distribution<int32_t> index(0, count - 1);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        while (!stop.load(std::memory_order_acquire)) {
            effect->setParameter(effect, index(thirdRandom), value(thirdRandom));
            thirdCalls.fetch_add(1, std::memory_order_relaxed);
        }
    });
    long uiCalls = 0;
    const ProcessingReport report = processWhile(
        instance, validation, kParameterBlock, 0,
        [&] {
            repeatFor(validation.scaled(kConcurrentDuration), [&] {
                const auto index = static_cast<int32_t>(validation.uniform(0, count - 1));
                effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
                ++uiCalls;
            });
        },
        Pace::FlatOut, automate);
    stop.store(true, std::memory_order_release);
    third.join();

    Problems& problems = running.problems();
    if (!report.problem.empty()) {
        problems.add("audio thread: " + report.problem);
    }
    if (report.counts.any()) {
        problems.add("inside the module on the audio thread: " + describe(report.counts) +
                     " (in setParameter: " + describe(report.turnCounts) + ")");
    }
    const Outcome fresh = onRunningInstance(
        validation, kParameterBlock, [&](Validation&, RunningInstance& freshRunning) {
            compareWithFresh(instance, freshRunning.instance(), problems);
            return Outcome::pass();
        });
    if (!fresh.passed) {
        problems.add("a second instance: " + fresh.text);
    }
    return problems.outcome("(" + std::to_string(turnCalls) + " calls on the audio thread, " +
                            std::to_string(uiCalls) + " on the UI thread, " +
                            std::to_string(thirdCalls.load()) + " on a third thread)");
}

} // namespace

void addParameterTests(std::vector<TestCase>& tests) {
    tests.push_back(runningInstanceTest("parameters.texts", kParameterBlock, parameterTexts));
    tests.push_back(runningInstanceTest("parameters.values", kParameterBlock, parameterValues));
    tests.push_back(runningInstanceTest("parameters.changes-while-processing", kParameterBlock,
                                        withParameters(changesWhileProcessing)));
    tests.push_back(runningInstanceTest("parameters.three-threads", kParameterBlock,
                                        withParameters(threeThreads)));
}

} // namespace kelvatone::host::validate
