// The display editor: a 640 x 360 child window in the host's editor window, an
// off-screen back buffer that redraw fills with the pitch history after every
// analysed frame, and the "Hold" switch that freezes analysis and picture.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/RealtimeGuard.h"
#include "editor/AEffGUIEditor.h"
#include "editor/CDrawContext.h"
#include "editor/platform/Win32.h"

#include <atomic>
#include <cstdint>

class CControl;

// Notifications of controls. The display has no controls, so nothing calls these.
class CControlListener {
public:
    virtual void valueChanged(viewkit::CDrawContext* context, CControl* control) = 0;
    virtual int32_t controlModifierClicked(viewkit::CDrawContext* context, CControl* control,
                                           int32_t button) = 0;

protected:
    ~CControlListener() = default;
};

class KelvatoneGui : public AEffGUIEditor, public CControlListener {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 360;
    // Screen columns of the history, from x = kFirstColumnX, kColumnPitch apart.
    static constexpr int kShownColumns = 310;
    static constexpr int kFirstColumnX = 20;
    static constexpr int kColumnPitch = 2;
    // The click area around the "Hold" label, bounds included.
    static constexpr int kHoldAreaLeft = 586;
    static constexpr int kHoldAreaRight = 635;
    static constexpr int kHoldAreaTop = 4;
    static constexpr int kHoldAreaBottom = 27;

    // Thread that creates the effect. Needs of the engine only its address and its
    // displayRange (the effect configures the engine afterwards).
    KelvatoneGui(AudioEffect* effect, AnalysisEngine* engine);
    // Thread that destroys the effect; the audio thread must no longer run.
    ~KelvatoneGui() override;

    // UI thread. Always true, also when the window cannot be created.
    bool open(void* parent) override;
    // UI thread. When it returns, no redraw is drawing or invalidating any more.
    void close() override;

    void valueChanged(viewkit::CDrawContext*, CControl*) override {}
    int32_t controlModifierClicked(viewkit::CDrawContext*, CControl*, int32_t) override {
        return 0;
    }

    // Audio thread, after each analysed frame. Moves the view, draws the picture into
    // the back buffer and invalidates the window; does nothing while the window is
    // closed. While the UI thread is drawing or painting it never waits: it leaves the
    // picture to the painting thread.
    void redraw();

    // Draws the whole picture into dc and scrolls the view. The caller has the drawing
    // to itself (drawGuard, or no other thread near the editor) and keeps the engine's
    // history stable.
    void renderPicture(HDC dc);

    // The window procedure of the window class "kelvatone". UI thread.
    static LRESULT CALLBACK displayWindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam);

    // Number of editors in the process that hold the window-class registration.
    static int windowClassUsers();

    int32_t getViewBase() const { return baseOf(view.load(std::memory_order_relaxed)); }
    int32_t getScrollStep() const { return stepOf(view.load(std::memory_order_relaxed)); }

    // Keeps every drawing out while the engine's history arrays are replaced (a
    // resolution or sample-rate change). Never waits: false while a drawing or paint
    // runs, and the caller tries again later. any thread; allowDrawing ends it.
    bool tryExcludeDrawing();
    void allowDrawing();
    HWND getDisplayWindow() const { return displayWindow.load(std::memory_order_acquire); }
    HBITMAP getBackBufferBitmap() const { return backBufferBitmap.load(std::memory_order_acquire); }

    // Freezes analysis and picture. Written by the UI thread (hold clicks), read by
    // the audio thread once per sample; nothing else is published through it.
    std::atomic<bool> hold{false};

private:
    // WM_CREATE: makes the back buffer of a new window and frees the one it replaces.
    void createBackBuffer(HWND window);
    // WM_PAINT: copies the back buffer to the window, then draws a picture that the
    // audio thread had to skip meanwhile.
    void paint(HWND window);
    // UI thread: draws the current picture without moving the view, waiting for the
    // audio thread's process call and any drawing to end.
    void drawMissedPicture();
    // Draws the picture for the view as it stands; caller as for renderPicture.
    void drawPicture(HDC dc, PitchCents result);
    // Pixels per cent and the picture's height in cents at the current display range.
    double pictureScale() const;
    double pictureSpan() const;
    // WM_LBUTTONDOWN inside the hold area: flips hold and redraws at once, waiting for
    // any drawing or paint to end.
    void toggleHold();
    // Clears displayWindow and waits until no redraw is drawing or invalidating.
    void stopRedraws();
    // Detaches a window from this editor so that its messages no longer reach it; on
    // Linux also destroys it, which stops and joins the layer's thread of that window.
    void retireWindow(HWND window);

    void scrollView(PitchCents result, double span);
    void drawGrid(HDC dc, double scale, double span);
    void drawHeldNotes(HDC dc, double scale, double span);
    void drawTrace(HDC dc, double scale);
    void drawCurrentNote(HDC dc, PitchCents result);
    void drawHoldLabel(HDC dc);
    // Copies the shown history columns, oldest first, into shownPitch / shownNotes.
    void takeShownHistory();
    int rowOf(int32_t pitch, double scale) const;

    AnalysisEngine* engine;
    // Created by WM_CREATE of the newest window, drawn by redraw (audio or UI thread),
    // copied by WM_PAINT, freed when a newer window replaces it and at destruction.
    // Replaced only while drawGuard is held; read by the threads that hold it.
    std::atomic<HDC> backBufferDc{nullptr};
    std::atomic<HBITMAP> backBufferBitmap{nullptr};
    // The window between open and close, null otherwise. Written by open and close on
    // the UI thread, read by redraw on the audio thread.
    std::atomic<HWND> displayWindow{nullptr};
    // The newest window that open created, kept after close so that the destructor
    // can detach it. UI thread only.
    HWND createdWindow = nullptr;
    HFONT gridLabelFont = nullptr;
    HFONT noteLabelFont = nullptr;
    HFONT holdLabelFont = nullptr;
    HPEN matchPen = nullptr;
    HPEN mismatchPen = nullptr;
    // The view: pitch at the bottom edge (high 32 bits) and the next scroll distance
    // (low 32 bits), in cents, changed together by scrollView from the audio thread's
    // redraw or a hold click on the UI thread, read by either.
    static uint64_t packView(int32_t base, int32_t step) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(base)) << 32) |
               static_cast<uint32_t>(step);
    }
    static int32_t baseOf(uint64_t packed) { return static_cast<int32_t>(packed >> 32); }
    static int32_t stepOf(uint64_t packed) {
        return static_cast<int32_t>(static_cast<uint32_t>(packed));
    }
    std::atomic<uint64_t> view{0};
    // The audio thread scrolls the view, so the view must never take a lock.
    static_assert(std::atomic<uint64_t>::is_always_lock_free);
    // The bottom edge of the picture being drawn; used under drawGuard.
    int32_t pictureBase = 0;
    // Serialises drawing into the back buffer, copying it, and replacing the engine's
    // history arrays: the audio thread only tries it, the UI thread waits for it.
    RealtimeGuard drawGuard;
    // Set by the audio thread when it skipped drawing a frame because a paint held
    // drawGuard; cleared by the painting UI thread, which then draws the picture.
    std::atomic<bool> pictureMissed{false};
    // Snapshot of the shown history for one picture; used under drawGuard.
    PitchCents shownPitch[kShownColumns] = {};
    HeldNoteSet shownNotes[kShownColumns] = {};
};
