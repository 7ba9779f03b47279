// Real-time safety: while the audio thread is inside processReplacing or
// effProcessEvents the module allocates and releases no heap memory and takes no
// mutex that can wait — while it only processes, while MIDI arrives, while the UI
// thread changes parameters and while it announces new sample rates.
#include <chrono>
#include <thread>

#include "host/HostCallback.h"
#include "host/validate/AudioThread.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kRealtimeBlock = 256;
constexpr auto kRealtimeDuration = std::chrono::milliseconds(500);
constexpr auto kRatePause = std::chrono::milliseconds(2);
constexpr float kSampleRates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f, 192000.0f, 88200.0f};

// What the UI thread does while the audio thread is counted.
enum class Meanwhile { Nothing, Parameters, SampleRates };

Outcome countDuring(Validation& validation, int eventsEvery, Meanwhile meanwhile) {
    if (!realtime::countingAvailable()) {
#if defined(_WIN32)
        return Outcome::pass("(skipped: allocation counting is Linux-only)");
#else
        return Outcome::pass("(skipped: allocation counting is off in sanitizer builds)");
#endif
    }
    std::string error;
    auto instance = validation.instantiate(error);
    if (instance == nullptr) {
        return Outcome::fail(error);
    }
    AEffect* effect = instance->effect();
    instance->dispatch(effOpen);
    instance->dispatch(effSetSampleRate, 0, 0, nullptr, kDefaultSampleRate);
    instance->dispatch(effSetBlockSize, 0, kRealtimeBlock);
    instance->dispatch(effMainsChanged, 0, 1);
    const auto duration = validation.scaled(kRealtimeDuration);
    size_t nextRate = 0;
    const ProcessingReport report =
        processWhile(*instance, validation, kRealtimeBlock, eventsEvery, [&] {
            repeatFor(duration, [&] {
                if (meanwhile == Meanwhile::Parameters && effect->numParams > 0) {
                    const auto index =
                        static_cast<int32_t>(validation.uniform(0, effect->numParams - 1));
                    effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
                } else if (meanwhile == Meanwhile::SampleRates) {
                    instance->dispatch(effSetSampleRate, 0, 0, nullptr,
                                       kSampleRates[nextRate++ % std::size(kSampleRates)]);
                    std::this_thread::sleep_for(kRatePause);
                } else {
                    std::this_thread::sleep_for(kRatePause);
                }
            });
        });
    instance->dispatch(effMainsChanged, 0, 0);
    instance->close();
    Problems problems;
    if (report.counts.any()) {
        problems.add("inside the module on the audio thread: " + realtime::describe(report.counts) +
                     " in " + std::to_string(report.blocks) + " blocks");
    }
    if (!report.problem.empty()) {
        problems.add(report.problem);
    }
    return problems.outcome("(" + std::to_string(report.blocks) + " blocks counted)");
}

} // namespace

void addRealtimeTests(std::vector<TestCase>& tests) {
    tests.push_back(
        {"realtime.process", [](Validation& v) { return countDuring(v, 0, Meanwhile::Nothing); }});
    tests.push_back({"realtime.process-events",
                     [](Validation& v) { return countDuring(v, 1, Meanwhile::Nothing); }});
    tests.push_back({"realtime.parameter-changes",
                     [](Validation& v) { return countDuring(v, 4, Meanwhile::Parameters); }});
    tests.push_back({"realtime.sample-rate-changes",
                     [](Validation& v) { return countDuring(v, 0, Meanwhile::SampleRates); }});
}

} // namespace kelvatone::host::validate
