// What the validator's tests that show a module's editor share: whether it can be
// shown here, the host window it is embedded in, and how often the UI thread handles
// that window's events.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/EditorWindow.h"
#include "host/ModuleLoader.h"
#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

// How long the UI thread sleeps between rounds of pumping the window's events and
// sending effEditIdle.
constexpr auto kEventInterval = std::chrono::milliseconds(5);

// Null when the editor of `effect` can be shown here (a display, by
// editorDisplayAvailable(), and an editor); otherwise why not, e.g. "no display; set
// $DISPLAY or run under scripts/with-xvfb". With a null `effect`, only the display.
const char* editorUnavailable(const vst::AEffect* effect);

// A new instance switched on for blocks of `blockSize` frames, when its editor can be
// shown here. Null otherwise: with the reason in `note` ("(skipped: ...)") when the editor
// cannot be shown, in `error` when the instance cannot be made. The validator's thread.
std::unique_ptr<EffectInstance> instanceWithEditor(Validation& validation, int32_t blockSize,
                                                   std::string& note, std::string& error);

// UI thread: a host window the editor's size (from effEditGetRect, or a fallback);
// null with the reason in `error`.
std::unique_ptr<EditorWindow> hostWindow(EffectInstance& instance, int& width, int& height,
                                         std::string& error);

// The outcome of an editor test that got no instance from instanceWithEditor: passed
// with `note` when the editor cannot be shown here, else failed with `error`.
Outcome skippedOr(const std::string& note, const std::string& error);

// An instance switched on whose editor can be shown here, and a host window the
// editor's size for it (the editor not yet opened): what most editor tests start from.
// The window goes before the instance. UI thread.
struct HostedEditor {
    std::unique_ptr<EffectInstance> instance;
    std::unique_ptr<EditorWindow> window;
    int width = 0;
    int height = 0;
};

// Makes the instance (instanceWithEditor), then its host window (hostWindow). False
// when either cannot be made, with `unavailable` the test's outcome: skippedOr for the
// instance, failed with the reason for the window. The validator's (UI) thread.
bool hostEditor(Validation& validation, int32_t blockSize, HostedEditor& hosted,
                Outcome& unavailable);

// Runs test(hosted) when hostEditor can make the instance and its window; otherwise
// the outcome that says why it could not.
template <typename Test>
Outcome withHostedEditor(Validation& validation, int32_t blockSize, Test test) {
    HostedEditor hosted;
    Outcome unavailable;
    if (!hostEditor(validation, blockSize, hosted, unavailable))
        return unavailable;
    return test(hosted);
}

// How long the UI thread pumps events and idles the editor before reading its
// picture, so that the module has drawn what it last received.
constexpr auto kPictureSettleTime = std::chrono::milliseconds(150);

// An instance's editor shown in a host window of the validator's own. Every
// operation on the UI thread, the one that opened it.
class ShownEditor {
public:
    // Opens the editor of `instance` in a new host window. Null when it cannot be
    // shown here (then `note` says why, "(skipped: no display ...)") or when the host
    // window cannot be made (then `error` says why).
    static std::unique_ptr<ShownEditor> open(EffectInstance& instance, std::string& note,
                                             std::string& error);
    // Sends effEditClose and destroys the host window.
    ~ShownEditor();
    ShownEditor(const ShownEditor&) = delete;
    ShownEditor& operator=(const ShownEditor&) = delete;

    // Pumps the window's events and sends effEditIdle for `duration`.
    void settle(std::chrono::milliseconds duration = kPictureSettleTime);
    // Settles, then reads the window's pixels.
    bool picture(io::Image& image, std::string& error);
    EditorWindow& window() { return *window_; }

private:
    ShownEditor(EffectInstance& instance, std::unique_ptr<EditorWindow> window);
    EffectInstance& instance_;
    std::unique_ptr<EditorWindow> window_;
};

} // namespace kelvatone::host::validate
