// Real-time safety: while the audio thread is inside processReplacing or
// effProcessEvents the module allocates and releases no heap memory and takes no
// mutex that can wait — while it only processes, while MIDI arrives, while the UI
// thread changes parameters and while it announces new sample rates; and the same
// inside setParameter when the audio thread itself automates every parameter between
// small blocks while the editor is open and painting.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/HostCallback.h"
#include "host/validate/AudioThread.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/Problems.h"
#include "host/validate/RunningInstance.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kRealtimeBlock = 256;
constexpr auto kRealtimeDuration = std::chrono::milliseconds(500);
constexpr auto kRatePause = std::chrono::milliseconds(2);
constexpr float kSampleRates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f, 192000.0f, 88200.0f};
// Automation on the audio thread: small blocks, as hosts with low latency use.
constexpr int32_t kAutomationBlock = 64;
constexpr auto kAutomationDuration = std::chrono::milliseconds(1500);
constexpr int kAutomationEventsEvery = 4;
// At most this many setParameter calls before each block; a module with more
// parameters has them automated in turn.
constexpr int32_t kParametersPerBlock = 16;
// The automated values are whole multiples of 1/kSweepSteps: 60 lies on every boundary
// of a choice among 2, 3, 4, 5, 6, 10, 12, 15, 20, 30 or 60 values (k/n of the range).
constexpr int kSweepSteps = 60;

const char* countingSkippedReason() {
#if defined(_WIN32)
    return "allocation counting is Linux-only";
#else
    return "allocation counting is off in sanitizer builds";
#endif
}

// What the UI thread does while the audio thread is counted.
enum class Meanwhile { Nothing, Parameters, SampleRates };

Outcome countDuring(Validation& validation, RunningInstance& running, int eventsEvery,
                    Meanwhile meanwhile) {
    EffectInstance& instance = running.instance();
    AEffect* effect = running.effect();
    const auto duration = validation.scaled(kRealtimeDuration);
    size_t nextRate = 0;
    const ProcessingReport report =
        processWhile(instance, validation, kRealtimeBlock, eventsEvery, [&] {
            repeatFor(duration, [&] {
                if (meanwhile == Meanwhile::Parameters && effect->numParams > 0) {
                    const auto index =
                        static_cast<int32_t>(validation.uniform(0, effect->numParams - 1));
                    effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
                } else if (meanwhile == Meanwhile::SampleRates) {
                    instance.dispatch(effSetSampleRate, 0, 0, nullptr,
                                      kSampleRates[nextRate++ % std::size(kSampleRates)]);
                    std::this_thread::sleep_for(kRatePause);
                } else {
                    std::this_thread::sleep_for(kRatePause);
                }
            });
        });
    Problems& problems = running.problems();
    if (report.counts.any()) {
        problems.add("inside the module on the audio thread: " + describe(report.counts) + " in " +
                     std::to_string(report.blocks) + " blocks");
    }
    if (!report.problem.empty()) {
        problems.add(report.problem);
    }
    return problems.outcome("(" + std::to_string(report.blocks) + " blocks counted)");
}

// The test case `name`: countDuring where counting is built, a note where it is not.
TestCase countingTest(std::string name, int eventsEvery, Meanwhile meanwhile) {
    return {std::move(name), [eventsEvery, meanwhile](Validation& validation) {
                if (!countingAvailable()) {
                    return Outcome::pass(std::string("(skipped: ") + countingSkippedReason() + ")");
                }
                return onRunningInstance(validation, kRealtimeBlock,
                                         [&](Validation& v, RunningInstance& running) {
                                             return countDuring(v, running, eventsEvery, meanwhile);
                                         });
            }};
}

// The values one parameter is automated through, round and round: up the range with
// a step back after every step, so each boundary between two choices is crossed back
// and forth; then alternately from either end inwards (0, 1, 1/60, 59/60, ...), so
// each call jumps across most choices; then down the range again.
std::vector<float> automationSweep() {
    auto at = [](int step) { return static_cast<float>(step) / kSweepSteps; };
    std::vector<float> values;
    for (int step = 0; step < kSweepSteps; ++step) {
        values.insert(values.end(), {at(step), at(step + 1), at(step), at(step + 1)});
    }
    for (int step = 0; step <= kSweepSteps; ++step) {
        values.insert(values.end(), {at(step), at(kSweepSteps - step)});
    }
    for (int step = kSweepSteps; step >= 0; --step) {
        values.push_back(at(step));
    }
    return values;
}

// The audio thread sets parameters between its blocks, as a host playing automation
// does, while the UI thread keeps the editor open and painting (where it can be
// shown). What the module does on the audio thread, in setParameter as in the process
// calls, is counted.
Outcome automationWithEditor(Validation& validation, RunningInstance& running) {
    EffectInstance& instance = running.instance();
    AEffect* effect = running.effect();

    std::unique_ptr<EditorWindow> window;
    const char* noEditor = editorUnavailable(effect);
    if (noEditor == nullptr) {
        int width = 0, height = 0;
        std::string error;
        window = hostWindow(instance, width, height, error);
        if (window == nullptr) {
            return Outcome::fail(error);
        }
        instance.dispatch(effEditOpen, 0, 0, window->parentHandle());
        window->pumpEvents();
    }

    // Everything the audio thread's turns use is made here: each parameter starts at
    // a place of its own in the sweep.
    const std::vector<float> sweep = automationSweep();
    const int32_t parameters = std::max(effect->numParams, 0);
    std::vector<size_t> places(static_cast<size_t>(parameters));
    for (size_t& place : places) {
        place = static_cast<size_t>(validation.uniform(0, static_cast<int64_t>(sweep.size()) - 1));
    }
    const int32_t perBlock = std::min(parameters, kParametersPerBlock);
    int32_t nextParameter = 0;
    long parameterCalls = 0;
    auto automate = [&](long) {
        for (int32_t call = 0; call < perBlock; ++call) {
            size_t& place = places[static_cast<size_t>(nextParameter)];
            effect->setParameter(effect, nextParameter, sweep[place]);
            place = (place + 1) % sweep.size();
            nextParameter = (nextParameter + 1) % parameters;
            ++parameterCalls;
        }
    };

    int idles = 0;
    const auto duration = validation.scaled(kAutomationDuration);
    const ProcessingReport report = processWhile(
        instance, validation, kAutomationBlock, kAutomationEventsEvery,
        [&] {
            repeatFor(duration, [&] {
                if (window != nullptr) {
                    window->pumpEvents();
                    instance.dispatch(effEditIdle);
                    ++idles;
                }
                std::this_thread::sleep_for(kEventInterval);
            });
        },
        Pace::Playback, automate);
    if (window != nullptr) {
        instance.dispatch(effEditClose);
        window->pumpEvents();
    }

    Problems& problems = running.problems();
    if (report.counts.any()) {
        problems.add(
            "inside the module on the audio thread: " + describe(report.counts) + " in " +
            std::to_string(report.blocksWithCounts) + " of " + std::to_string(report.blocks) +
            " blocks (in setParameter: " + describe(report.turnCounts) +
            "; in effProcessEvents and process: " + describe(report.counts - report.turnCounts) +
            ")");
    }
    if (!report.problem.empty()) {
        problems.add("audio thread: " + report.problem);
    }
    std::string note = "(" + std::to_string(report.blocks) + " blocks of " +
                       std::to_string(kAutomationBlock) + " frames, " +
                       std::to_string(parameterCalls) + " setParameter calls on the audio thread";
    note += window != nullptr ? ", editor open, " + std::to_string(idles) + " idle calls"
                              : std::string(", editor not open: ") + noEditor;
    if (validation.passThrough()) {
        note += "; output equal to input";
    }
    if (!countingAvailable()) {
        note += std::string("; counting skipped: ") + countingSkippedReason();
    }
    return problems.outcome(note + ")");
}

} // namespace

void addRealtimeTests(std::vector<TestCase>& tests) {
    tests.push_back(countingTest("realtime.process", 0, Meanwhile::Nothing));
    tests.push_back(countingTest("realtime.process-events", 1, Meanwhile::Nothing));
    tests.push_back(countingTest("realtime.parameter-changes", 4, Meanwhile::Parameters));
    tests.push_back(countingTest("realtime.sample-rate-changes", 0, Meanwhile::SampleRates));
    tests.push_back(runningInstanceTest("realtime.automation-with-editor", kAutomationBlock,
                                        automationWithEditor));
}

} // namespace kelvatone::host::validate
