// The display editor: a 640 x 360 child window in the host's editor window, an
// off-screen back buffer that the window's thread fills with the picture of the display's
// model (DisplayModel.h) whenever a frame or a setting changed it, and the "Hold" switch
// that freezes analysis and picture. The editor reads the model; it keeps none of what
// the picture shows.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"
#include "editor/AEffGUIEditor.h"
#include "editor/CDrawContext.h"
#include "editor/DisplayModel.h"
#include "editor/DisplayRenderer.h"
#include "editor/platform/Win32.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::editor {

class CControl;

// Notifications of controls. The display has no controls, so nothing calls these.
class CControlListener {
public:
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
    virtual int32_t controlModifierClicked(CDrawContext* context, CControl* control,
                                           int32_t button) = 0;

protected:
    ~CControlListener() = default;
};

// Threads:
//   - audio thread: frameAnalysed (the scroll step and a new picture marked due; no
//     drawing, no window call, no wait);
//   - any thread: pictureChanged, takeSnapshot, the view's getters;
//   - UI thread (the window's thread: on Linux each window has its own): open, close,
//     redraw, drawPicture and the window procedure. The picture is drawn there, from one
//     consistent snapshot, when the window paints or its timer finds a new picture due.
class KelvatoneGui : public AEffGUIEditor, public CControlListener {
public:
    static constexpr int kWidth = editor::kWidth;
    static constexpr int kHeight = editor::kHeight;
    static constexpr int kShownColumns = editor::kShownColumns;
    static constexpr int kFirstColumnX = editor::kFirstColumnX;
    static constexpr int kColumnPitch = editor::kColumnPitch;
    // The click area around the "Hold" label, bounds included.
    static constexpr int kHoldAreaLeft = 586;
    static constexpr int kHoldAreaRight = 635;
    static constexpr int kHoldAreaTop = 4;
    static constexpr int kHoldAreaBottom = 27;
    // How often the window looks for a new picture (ms); a frame comes every 33 ms.
    static constexpr UINT kPictureTimerMilliseconds = 15;

    // Thread that creates the effect. Needs of the engine only its address and its
    // displayRange (the effect configures the engine afterwards).
    KelvatoneGui(vst::AudioEffect* effect, analysis::AnalysisEngine* engine);
    // Thread that destroys the effect; the audio thread must no longer run. Detaches the
    // window first, so that no paint or click of the window's thread reaches the editor
    // or the engine from then on.
    ~KelvatoneGui() override;

    // UI thread. Always true, also when the window cannot be created. The window shows the
    // current picture as soon as it paints.
    bool open(void* parent) override;
    // UI thread. From then on nothing scrolls or draws until the next open.
    void close() override;

    void valueChanged(CDrawContext*, CControl*) override {}
    int32_t controlModifierClicked(CDrawContext*, CControl*, int32_t) override { return 0; }

    // Audio thread, after each analysed frame, inside the engine's historyUpdates together
    // with the frame's history column: while the window is open, runs the scroll step with
    // the frame's result and marks a new picture due. Lock-free; draws nothing.
    void frameAnalysed(analysis::PitchCents result) REQUIRES(analysis::threadrole::audioThread);
    // Any thread: something the picture shows changed other than by a frame (a parameter,
    // an emptied history); the window draws it on its next timer tick. Lock-free.
    void pictureChanged() { displayModel.pictureChanged(); }

    // UI thread, while the window is open: draws the current picture into the back buffer
    // and invalidates the window. Does nothing while the window is closed.
    void redraw() EXCLUDES(analysis::threadrole::audioThread);
    // Draws the current picture, from one snapshot, into dc. Never the audio thread.
    void drawPicture(HDC dc) const EXCLUDES(analysis::threadrole::audioThread);
    // One consistent copy of everything the picture shows: the history and the result of
    // one frame with the view after that frame, the display range, the octave offset and
    // hold. Waits (yielding) only while the audio thread publishes a frame. Any thread but
    // the audio thread.
    Snapshot takeSnapshot() const EXCLUDES(analysis::threadrole::audioThread) {
        return displayModel.takeSnapshot();
    }
    // The scroll step with a result (scrolledView), applied whole even when the
    // audio thread and a click scroll at once. Lock-free; any thread.
    void scrollView(analysis::PitchCents result) { displayModel.scrollView(result); }

    // The window procedure of the window class "kelvatone". UI thread.
    static LRESULT CALLBACK displayWindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam);

    // Whether a change waits to be drawn into the back buffer. Any thread; once it answers
    // false, the back buffer's pixels may be read.
    bool pictureDue() const;

    // Number of editors in the process that hold the window-class registration.
    static int windowClassUsers();

    int32_t getViewBase() const { return displayModel.viewBase(); }
    int32_t getScrollStep() const { return displayModel.scrollStep(); }

    // What the editor shows. Any thread (see DisplayModel.h).
    DisplayModel& model() { return displayModel; }

    HWND getDisplayWindow() const { return displayWindow.load(std::memory_order_acquire); }
    HBITMAP getBackBufferBitmap() const { return backBufferBitmap; }

private:
    DisplayModel displayModel;

public:
    // The model's Hold (DisplayModel::hold), under the name the effect reads it by.
    std::atomic<bool>& hold;

private:
    // WM_CREATE: makes the back buffer of a new window and frees the one it replaces.
    void createBackBuffer(HWND window);
    // WM_PAINT: draws a picture that is due, then copies the back buffer to the window.
    void paint(HWND window);
    // WM_TIMER: draws a picture that is due.
    void drawIfDue();
    // Draws into the back buffer and notes what it shows. The window's thread.
    void drawBackBuffer();
    // WM_LBUTTONDOWN inside the hold area: flips hold, scrolls with the last result and
    // redraws at once.
    void toggleHold();
    // Detaches a window from this editor so that its messages no longer reach it, and
    // stops its timer; on Linux also destroys it, which stops and joins the layer's thread
    // of that window. UI thread.
    void retireWindow(HWND window);

    Renderer renderer;
    // Created by WM_CREATE of the newest window, drawn and copied on the window's thread,
    // freed when a newer window replaces it and at destruction. A window is retired (its
    // thread joined on Linux) before the next one is created, so only one thread at a
    // time uses them.
    HDC backBufferDc = nullptr;
    HBITMAP backBufferBitmap = nullptr;
    // The window between open and close, null otherwise. Written by open and close on
    // the UI thread, read by frameAnalysed on the audio thread and by the window's thread.
    std::atomic<HWND> displayWindow{nullptr};
    // The newest window that open created, kept after close so that the destructor
    // can detach it. UI thread only.
    HWND createdWindow = nullptr;
    // The count of changes the back buffer shows, and the process-wide octave offset it
    // was drawn with (which another instance may change). Written by the window's thread
    // after each drawing (one thread at a time, see the back buffer), read by any thread
    // through pictureDue.
    std::atomic<uint32_t> drawnChanges{0};
    std::atomic<int32_t> drawnOctaveOffset{0};
};

} // namespace kelvatone::editor
