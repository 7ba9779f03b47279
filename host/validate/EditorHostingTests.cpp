// The editor under hosts that drive it in less common ways, with the audio thread
// playing all along: a host that never sends effEditIdle; one that sends it from a
// thread other than the one that opened the editor; and one that destroys its own
// window (the editor's parent) before it sends effEditClose, then opens the editor
// again in a new window. Our module's picture must keep following the audio: it is
// drawn on its window's timer, not on the host's idle calls.
#include <atomic>
#include <chrono>
#include <thread>

#include "host/HostCallback.h"
#include "host/validate/AudioThread.h"
#include "host/validate/EditorHosting.h"
#include "host/validate/KelvatonePicture.h"
#include "host/validate/Problems.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kHostingBlock = 512;
constexpr int kHostingEventsEvery = 4;
constexpr auto kHostingDuration = std::chrono::milliseconds(1000);
// Two pictures this far apart must differ while audio plays: about 15 frames.
constexpr auto kPictureInterval = std::chrono::milliseconds(500);
constexpr auto kAfterParentGone = std::chrono::milliseconds(300);

// UI thread, while the audio thread plays: for our module, two pictures taken
// kPictureInterval apart with only `keepGoing` in between (pumping events, never
// idling the editor) must differ.
void expectPictureMoves(EffectInstance& instance, EditorWindow& window,
                        const std::function<void()>& keepGoing, const std::string& host,
                        Problems& problems) {
    if (!isKelvatone(instance.effect())) {
        return;
    }
    io::Image before, after;
    std::string error;
    repeatFor(kPictureInterval / 2, keepGoing);
    if (!window.capture(before, error)) {
        problems.add(error);
        return;
    }
    repeatFor(kPictureInterval, keepGoing);
    if (!window.capture(after, error)) {
        problems.add(error);
        return;
    }
    if (before.rgb == after.rgb) {
        problems.add("with " + host + ", the picture did not change in " +
                     std::to_string(kPictureInterval.count()) + " ms of audio");
    }
}

void noteAudioProblems(const ProcessingReport& report, Problems& problems) {
    if (!report.problem.empty()) {
        problems.add("audio thread: " + report.problem);
    }
}

// Plays a sine through the instance at playback pace for the hosting duration while
// the UI thread only pumps the window's events (the host sends no effEditIdle from it),
// then expects the picture to move; `label` names the case in a problem. UI thread.
ProcessingReport playWhilePumping(EffectInstance& instance, EditorWindow& window,
                                  Validation& validation, const char* label, Problems& problems) {
    auto pumpOnly = [&] {
        window.pumpEvents();
        std::this_thread::sleep_for(kEventInterval);
    };
    return processWhile(
        instance, validation, kHostingBlock, kHostingEventsEvery,
        [&] {
            repeatFor(validation.scaled(kHostingDuration), pumpOnly);
            expectPictureMoves(instance, window, pumpOnly, label, problems);
        },
        Pace::Playback, nullptr, Signal::Sine);
}

// Closes the editor, lets the window handle what that sent, switches the instance off
// and closes it. UI thread.
void closeShownEditor(EffectInstance& instance, EditorWindow& window) {
    instance.dispatch(vst::effEditClose);
    window.pumpEvents();
    instance.dispatch(vst::effMainsChanged, 0, 0);
    instance.close();
}

Outcome neverIdle(Validation& validation) {
    return withHostedEditor(validation, kHostingBlock, [&](HostedEditor& hosted) -> Outcome {
        auto& instance = hosted.instance;
        auto& window = hosted.window;
        instance->dispatch(vst::effEditOpen, 0, 0, window->parentHandle());
        Problems problems;
        const ProcessingReport report = playWhilePumping(*instance, *window, validation,
                                                         "no vst::effEditIdle at all", problems);
        noteAudioProblems(report, problems);
        closeShownEditor(*instance, *window);
        return problems.outcome("(" + std::to_string(report.blocks) +
                                " blocks, no vst::effEditIdle)");
    });
}

Outcome idleFromOtherThread(Validation& validation) {
    return withHostedEditor(validation, kHostingBlock, [&](HostedEditor& hosted) -> Outcome {
        auto& instance = hosted.instance;
        auto& window = hosted.window;
        instance->dispatch(vst::effEditOpen, 0, 0, window->parentHandle());
        // Written by the UI thread, read by the idling thread.
        std::atomic<bool> stop{false};
        std::atomic<long> idles{0};
        std::thread idler([&] {
            while (!stop.load(std::memory_order_acquire)) {
                instance->dispatch(vst::effEditIdle);
                idles.fetch_add(1, std::memory_order_relaxed);
                std::this_thread::sleep_for(kEventInterval);
            }
        });
        Problems problems;
        const ProcessingReport report = playWhilePumping(
            *instance, *window, validation, "effEditIdle from another thread", problems);
        stop.store(true, std::memory_order_release);
        idler.join();
        noteAudioProblems(report, problems);
        closeShownEditor(*instance, *window);
        return problems.outcome("(" + std::to_string(idles.load()) +
                                " idle calls from a second thread, " +
                                std::to_string(report.blocks) + " blocks)");
    });
}

// UI thread: a new host window with the editor of `instance` opened in it; null when the
// window cannot be made, with the reason among the problems.
std::unique_ptr<EditorWindow> openInNewWindow(EffectInstance& instance, Problems& problems) {
    int width = 0, height = 0;
    std::string error;
    auto window = hostWindow(instance, width, height, error);
    if (window == nullptr) {
        problems.add(error);
        return nullptr;
    }
    instance.dispatch(vst::effEditOpen, 0, 0, window->parentHandle());
    return window;
}

// UI thread: one turn of a host that idles its editor: events, effEditIdle, a pause.
void idleTurn(EffectInstance& instance, EditorWindow& window) {
    window.pumpEvents();
    instance.dispatch(vst::effEditIdle);
    std::this_thread::sleep_for(kEventInterval);
}

Outcome parentDestroyedFirst(Validation& validation) {
    std::string note, error;
    auto instance = instanceWithEditor(validation, kHostingBlock, note, error);
    if (instance == nullptr) {
        return skippedOr(note, error);
    }
    Problems problems;
    int rounds = 0;
    const ProcessingReport report = processWhile(
        *instance, validation, kHostingBlock, kHostingEventsEvery,
        [&] {
            repeatFor(validation.scaled(kHostingDuration), [&] {
                auto window = openInNewWindow(*instance, problems);
                if (window == nullptr) {
                    return;
                }
                repeatFor(kEventInterval * 4, [&] { idleTurn(*instance, *window); });
                window.reset();
                // The editor's window went with its parent; the audio thread goes on.
                std::this_thread::sleep_for(kEventInterval * 2);
                instance->dispatch(vst::effEditIdle);
                instance->dispatch(vst::effEditClose);
                ++rounds;
            });
            // And once more in a window that stays, which must show the audio.
            auto window = openInNewWindow(*instance, problems);
            if (window == nullptr) {
                return;
            }
            expectPictureMoves(
                *instance, *window, [&] { idleTurn(*instance, *window); },
                "the editor reopened after its parent was destroyed", problems);
            instance->dispatch(vst::effEditClose);
            window->pumpEvents();
        },
        Pace::Playback, nullptr, Signal::Sine);
    noteAudioProblems(report, problems);
    std::this_thread::sleep_for(kAfterParentGone);
    instance->dispatch(vst::effMainsChanged, 0, 0);
    instance->close();
    return problems.outcome("(" + std::to_string(rounds) +
                            " parent windows destroyed before vst::effEditClose)");
}

} // namespace

void addEditorHostingTests(std::vector<TestCase>& tests) {
    tests.push_back({"editor.never-idled", neverIdle});
    tests.push_back({"editor.idle-from-other-thread", idleFromOtherThread});
    tests.push_back({"editor.parent-destroyed-first", parentDestroyedFirst});
}

} // namespace kelvatone::host::validate
