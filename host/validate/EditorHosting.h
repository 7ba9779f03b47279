// What the validator's tests that show a module's editor share: whether it can be
// shown here, the host window it is embedded in, and how often the UI thread handles
// that window's events.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/EditorWindow.h"
#include "host/ModuleLoader.h"

namespace kelvatone::host::validate {

// How long the UI thread sleeps between rounds of pumping the window's events and
// sending effEditIdle.
constexpr auto kEventInterval = std::chrono::milliseconds(5);

// Null when the editor of `effect` can be shown here (a display, by
// editorDisplayAvailable(), and an editor); otherwise why not, e.g. "no display; set
// $DISPLAY or run under scripts/with-xvfb". With a null `effect`, only the display.
const char* editorUnavailable(const AEffect* effect);

// UI thread: a host window the editor's size (from effEditGetRect, or a fallback);
// null with the reason in `error`.
std::unique_ptr<EditorWindow> hostWindow(EffectInstance& instance, int& width, int& height,
                                         std::string& error);

} // namespace kelvatone::host::validate
