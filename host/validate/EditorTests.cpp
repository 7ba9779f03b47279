// The editor, when the module has one and a display is there (on Linux $DISPLAY, on
// Windows always): opened and closed many times, also while the audio thread
// processes; clicked, and its parameters changed, from the UI thread while the audio
// thread processes; the effect closed while its editor window still exists,
// with window events delivered afterwards; two instances with open editors at once.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "host/EditorWindow.h"
#include "host/HostCallback.h"
#include "host/validate/AudioThread.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int kOpenCloseRounds = 100;
constexpr int32_t kEditorBlock = 512;
constexpr auto kClickDuration = std::chrono::milliseconds(1500);
constexpr auto kAfterCloseDuration = std::chrono::milliseconds(500);
// Our own module: its "Hold" area, where clicks toggle the analysis.
constexpr int32_t kKelvatoneUniqueID = 0x71723238;
constexpr int kHoldAreaX = 610;
constexpr int kHoldAreaY = 15;

void pumpFor(EditorWindow& window, EffectInstance* instance, std::chrono::milliseconds duration) {
    repeatFor(duration, [&] {
        window.pumpEvents();
        if (instance != nullptr) {
            instance->dispatch(effEditIdle);
        }
        std::this_thread::sleep_for(kEventInterval);
    });
}

// Where a click hits something that reacts: our module's "Hold" area, else the middle.
void clickPoint(const EffectInstance& instance, int width, int height, int& x, int& y) {
    if (instance.effect()->uniqueID == kKelvatoneUniqueID && width > kHoldAreaX &&
        height > kHoldAreaY) {
        x = kHoldAreaX;
        y = kHoldAreaY;
    } else {
        x = width / 2;
        y = height / 2;
    }
}

Outcome openCloseRepeated(Validation& validation) {
    return withHostedEditor(validation, kEditorBlock, [&](HostedEditor& hosted) -> Outcome {
        auto& instance = hosted.instance;
        auto& window = hosted.window;
        const int rounds = validation.scaled(kOpenCloseRounds);
        auto openAndClose = [&] {
            for (int round = 0; round < rounds; ++round) {
                instance->dispatch(effEditOpen, 0, 0, window->parentHandle());
                window->pumpEvents();
                instance->dispatch(effEditIdle);
                instance->dispatch(effEditClose);
                window->pumpEvents();
            }
        };
        openAndClose();
        // Again with the audio thread drawing into the editor as it opens and closes.
        const ProcessingReport report =
            processWhile(*instance, validation, kEditorBlock, 0, openAndClose);
        instance->dispatch(effMainsChanged, 0, 0);
        instance->close();
        window->pumpEvents();
        if (!report.problem.empty()) {
            return Outcome::fail("audio thread: " + report.problem);
        }
        return Outcome::pass("(" + std::to_string(rounds) + " times, and " +
                             std::to_string(rounds) + " times while processing)");
    });
}

Outcome clickWhileProcessing(Validation& validation) {
    return withHostedEditor(validation, kEditorBlock, [&](HostedEditor& hosted) -> Outcome {
        auto& instance = hosted.instance;
        auto& window = hosted.window;
        instance->dispatch(effEditOpen, 0, 0, window->parentHandle());
        AEffect* effect = instance->effect();
        int x = 0, y = 0;
        clickPoint(*instance, hosted.width, hosted.height, x, y);
        int clicks = 0;
        Problems problems;
        std::string error;
        const auto duration = validation.scaled(kClickDuration);
        const ProcessingReport report = processWhile(
            *instance, validation, kEditorBlock, 4,
            [&] {
                repeatFor(duration, [&] {
                    if (!window->click(x, y, error)) {
                        problems.add(error);
                    }
                    ++clicks;
                    if (effect->numParams > 0) {
                        const auto index =
                            static_cast<int32_t>(validation.uniform(0, effect->numParams - 1));
                        effect->setParameter(effect, index, validation.uniformFloat(0.0f, 1.0f));
                    }
                    window->pumpEvents();
                    instance->dispatch(effEditIdle);
                    std::this_thread::sleep_for(kEventInterval);
                });
            },
            Pace::Playback);
        if (report.counts.any()) {
            problems.add("inside the module on the audio thread: " + describe(report.counts));
        }
        if (!report.problem.empty()) {
            problems.add("audio thread: " + report.problem);
        }
        instance->dispatch(effEditClose);
        window->pumpEvents();
        instance->dispatch(effMainsChanged, 0, 0);
        instance->close();
        return problems.outcome("(" + std::to_string(clicks) + " clicks at " + std::to_string(x) +
                                "," + std::to_string(y) + ", " + std::to_string(report.blocks) +
                                " blocks meanwhile)");
    });
}

// effClose while the editor's window still exists, with or without effEditClose
// first; then the window keeps receiving events, which must reach nothing freed.
Outcome closeEffectWithWindow(Validation& validation, bool editCloseFirst) {
    return withHostedEditor(validation, kEditorBlock, [&](HostedEditor& hosted) -> Outcome {
        auto& instance = hosted.instance;
        auto& window = hosted.window;
        instance->dispatch(effEditOpen, 0, 0, window->parentHandle());
        pumpFor(*window, instance.get(), kEventInterval * 10);
        if (editCloseFirst) {
            instance->dispatch(effEditClose);
        }
        instance->dispatch(effMainsChanged, 0, 0);
        instance->close();
        const auto duration = validation.scaled(kAfterCloseDuration);
        int rounds = 0;
        repeatFor(duration, [&] {
            window->deliverTestEvents();
            ++rounds;
            std::this_thread::sleep_for(kEventInterval);
        });
        return Outcome::pass("(" + std::to_string(rounds) + " rounds of window events afterwards)");
    });
}

Outcome twoInstances(Validation& validation) {
    std::string note, error;
    auto first = instanceWithEditor(validation, kEditorBlock, note, error);
    if (first == nullptr) {
        return skippedOr(note, error);
    }
    auto second = instanceWithEditor(validation, kEditorBlock, note, error);
    if (second == nullptr) {
        return skippedOr(note, error);
    }
    int width = 0, height = 0;
    auto firstWindow = hostWindow(*first, width, height, error);
    auto secondWindow = firstWindow ? hostWindow(*second, width, height, error) : nullptr;
    if (secondWindow == nullptr) {
        return Outcome::fail(error);
    }
    first->dispatch(effEditOpen, 0, 0, firstWindow->parentHandle());
    second->dispatch(effEditOpen, 0, 0, secondWindow->parentHandle());
    int x = 0, y = 0;
    clickPoint(*first, width, height, x, y);
    Problems problems;
    const auto duration = validation.scaled(kClickDuration);
    ProcessingReport secondReport;
    const ProcessingReport firstReport = processWhile(
        *first, validation, kEditorBlock, 4,
        [&] {
            secondReport = processWhile(
                *second, validation, kEditorBlock, 4,
                [&] {
                    repeatFor(duration, [&] {
                        firstWindow->click(x, y, error);
                        secondWindow->click(x, y, error);
                        firstWindow->pumpEvents();
                        secondWindow->pumpEvents();
                        first->dispatch(effEditIdle);
                        second->dispatch(effEditIdle);
                        std::this_thread::sleep_for(kEventInterval);
                    });
                },
                Pace::Playback);
        },
        Pace::Playback);
    for (const ProcessingReport* report :
         {&firstReport, static_cast<const ProcessingReport*>(&secondReport)}) {
        if (!report->problem.empty()) {
            problems.add("audio thread: " + report->problem);
        }
    }
    first->dispatch(effEditClose);
    second->dispatch(effEditClose);
    firstWindow->pumpEvents();
    secondWindow->pumpEvents();
    first->close();
    second->close();
    return problems.outcome();
}

} // namespace

void addEditorTests(std::vector<TestCase>& tests) {
    tests.push_back({"editor.open-close", openCloseRepeated});
    tests.push_back({"editor.click-while-processing", clickWhileProcessing});
    tests.push_back({"editor.effect-closed-after-editor-close",
                     [](Validation& v) { return closeEffectWithWindow(v, true); }});
    tests.push_back({"editor.effect-closed-with-editor-open",
                     [](Validation& v) { return closeEffectWithWindow(v, false); }});
    tests.push_back({"editor.two-instances", twoInstances});
}

} // namespace kelvatone::host::validate
