// Shared pieces of the editor tests: a small effect with its own engine and display
// editor, asking the fake host (tests/support), whose window and 640 x 360 drawing
// surface the tests use as well.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "editor/KelvatoneGui.h"
#include "editor/platform/Win32.h"
#include "tests/support/FakeHost.h"
#include "tests/support/HostWindow.h"
#include "vst/AudioEffectX.h"

#include <atomic>
#include <cstdint>
#include <vector>

using kelvatone::testsupport::createPlainChild;
using kelvatone::testsupport::HostWindow;
using kelvatone::testsupport::PixelSurface;
using kelvatone::testsupport::readBitmap;
using kelvatone::testsupport::windowsAvailable;

// An effect with an engine configured for 44100 Hz and a KelvatoneGui, built in the
// order of the plug-in's own effect.
class TestEffect : public kelvatone::vst::AudioEffectX {
public:
    explicit TestEffect(int32_t displayRange = 18);

    void processReplacing(float**, float**, int32_t) override {}

    kelvatone::editor::KelvatoneGui& gui() {
        return *static_cast<kelvatone::editor::KelvatoneGui*>(editor);
    }

    // Writes the history column for screen column i (0 = leftmost, 309 = newest).
    void setShownColumn(
        int i, kelvatone::analysis::PitchCents pitch,
        const kelvatone::analysis::HeldNoteSet& notes = kelvatone::analysis::HeldNoteSet{});
    void clearHistory();

    kelvatone::analysis::AnalysisEngine engine;
};

// A TestEffect whose display is open in a host window of its own; the effect (and with it
// the display) goes before the window. UI thread.
struct OpenEditor {
    OpenEditor();
    kelvatone::editor::KelvatoneGui& gui() { return effect.gui(); }
    // The display's window, or null when the host window or the display did not open.
    HWND window() { return effect.gui().getDisplayWindow(); }

    HostWindow host;
    TestEffect effect;
};

// A host window with a plain child window in it (createPlainChild), for the tests of what
// the editor does with a window of its own; either is null when it could not be made. The
// test destroys the child. UI thread.
struct WindowWithChild {
    WindowWithChild()
        : child(host.handle() != nullptr ? createPlainChild(host.handle()) : nullptr) {}
    HostWindow host;
    HWND child;
};

// What the display does for one frame with the engine's current result, into dc: the
// scroll step, then the picture.
void drawFrame(TestEffect& effect, HDC dc);

// Waits until the open window's back buffer shows the latest change, letting the window's
// thread draw it (on Windows that is this thread: its messages are pumped meanwhile).
// False if no picture came.
bool waitForPicture(kelvatone::editor::KelvatoneGui& gui);

// 0x00RRGGBB of a COLORREF (0x00BBGGRR).
constexpr uint32_t pixelOf(COLORREF colour) {
    return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

inline uint32_t at(const std::vector<uint32_t>& image, int x, int y) {
    return image[static_cast<size_t>(y) * kelvatone::editor::KelvatoneGui::kWidth +
                 static_cast<size_t>(x)];
}
