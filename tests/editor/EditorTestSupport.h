// Shared pieces of the editor tests: a small effect with its own engine and display
// editor, a recording host callback, a 640 x 360 drawing surface whose pixels can be
// read, and a host-like top-level window to open the editor in.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "editor/KelvatoneGui.h"
#include "editor/platform/Win32.h"
#include "vst/AudioEffectX.h"

#include <atomic>
#include <cstdint>
#include <vector>

// What the effects of the tests asked of their host.
struct HostRecord {
    std::atomic<int> idleRequests{0};
    std::atomic<int> lastBeginEdit{-1};
    std::atomic<int> lastEndEdit{-1};
    // Called inside audioMasterIdle, while the editor's idle cycle runs.
    void (*onIdle)() = nullptr;
};
extern HostRecord hostRecord;

intptr_t recordingHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                       float opt);

// An effect with an engine configured for 44100 Hz and a KelvatoneGui, built in the
// order of the plug-in's own effect.
class TestEffect : public AudioEffectX {
public:
    explicit TestEffect(int32_t displayRange = 18);

    void processReplacing(float**, float**, int32_t) override {}

    KelvatoneGui& gui() { return *static_cast<KelvatoneGui*>(editor); }

    // Writes the history column for screen column i (0 = leftmost, 309 = newest).
    void setShownColumn(int i, PitchCents pitch, const HeldNoteSet& notes = HeldNoteSet{});
    void clearHistory();

    AnalysisEngine engine;
};

// A memory device context with a 640 x 360 bitmap compatible with the screen.
class PixelSurface {
public:
    PixelSurface();
    ~PixelSurface();
    PixelSurface(const PixelSurface&) = delete;
    PixelSurface& operator=(const PixelSurface&) = delete;

    HDC dc() const { return surfaceDc; }
    std::vector<uint32_t> pixels() const;

private:
    HDC surfaceDc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
};

// Reads the 640 x 360 pixels of a bitmap as 0x00RRGGBB values, row by row.
std::vector<uint32_t> readBitmap(HBITMAP bitmap);

// What the display does for one frame with the engine's current result, into dc: the
// scroll step, then the picture.
void drawFrame(TestEffect& effect, HDC dc);

// Waits until the open window's back buffer shows the latest change, letting the window's
// thread draw it (on Windows that is this thread: its messages are pumped meanwhile).
// False if no picture came.
bool waitForPicture(KelvatoneGui& gui);

// 0x00RRGGBB of a COLORREF (0x00BBGGRR).
constexpr uint32_t pixelOf(COLORREF colour) {
    return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

inline uint32_t at(const std::vector<uint32_t>& image, int x, int y) {
    return image[static_cast<size_t>(y) * KelvatoneGui::kWidth + static_cast<size_t>(x)];
}

// A top-level window standing in for the host's editor window; null where windows
// cannot be created (Linux without an X display).
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND handle() const { return window; }

private:
    HWND window = nullptr;
};

// A plain visible 640 x 360 child window of a class with the default procedure, for
// tests that need a window of the platform's window services. DestroyWindow ends it.
HWND createPlainChild(HWND parent);

// Whether this process can create windows (on Linux: an X display is reachable).
bool windowsAvailable();
