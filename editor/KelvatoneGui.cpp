#include "editor/KelvatoneGui.h"

#include "analysis/NoteNames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const char kWindowClassName[] = "kelvatone";
const char kWindowTitle[] = "kelvatone";
constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

constexpr COLORREF kCRowColour = 0x00C0C0C0;
constexpr COLORREF kNaturalRowColour = 0x00808080;
constexpr COLORREF kMatchColour = 0x00FF8010;
constexpr COLORREF kMismatchColour = 0x00FF1010;
constexpr COLORREF kTraceColour = 0x0000FFFF;
constexpr COLORREF kLabelColour = 0x00FFFFFF;
constexpr COLORREF kHoldOnColour = 0x00FFFFFF;
constexpr COLORREF kHoldOffColour = 0x00808080;

constexpr int kHeldNotePenWidth = 5;
constexpr LONG kGridLabelHeight = -8;
constexpr LONG kNoteLabelHeight = -20;
constexpr LONG kHoldLabelHeight = -14;

constexpr int kRuleX = 19;
constexpr int kCRowLineStartX = 17;
constexpr int kRowLineStartX = 19;
constexpr int kGridLabelRise = 6;
constexpr int kNoteLabelX = 300;
constexpr int kNoteLabelY = 2;
constexpr int kHoldLabelX = 592;
constexpr int kHoldLabelY = 8;
const char kHoldLabel[] = "Hold";

constexpr int32_t kCentsPerSemitone = 100;
constexpr int32_t kSemitonesPerOctave = 12;
// The first picture is centred on C4.
constexpr int32_t kInitialViewCentre = 4800;
// The view keeps the pitch this far inside its bottom and top edges.
constexpr int32_t kScrollMargin = 100;
// Growth of the scroll distance on each frame whose pitch lies outside the margins.
constexpr int32_t kScrollAcceleration = 10;
// Neighbouring trace points further apart than this are not joined.
constexpr int32_t kTraceJoinLimit = 500;
// A held note counts as matched while the pitch lies strictly within this distance.
constexpr int32_t kMatchTolerance = 50;
// The oldest history columns that the picture leaves out.
constexpr int kHiddenColumns = kHistoryLength - KelvatoneGui::kShownColumns;
// A HeldNoteSet is indexed by MIDI note; MIDI note k is NoteNumber k - 12.
constexpr int32_t kMidiNoteOffset = 12;

// The semitones above C that get a grid row: the natural notes.
const bool kNaturalNote[kSemitonesPerOctave] = {true,  false, true,  false, true,  true,
                                                false, true,  false, true,  false, true};
// Room for any label of NoteNames.
constexpr int kLabelCapacity = 8;

// The window class is registered while any editor of the process exists.
std::mutex windowClassMutex;
int windowClassCount = 0; // guarded by windowClassMutex

void acquireWindowClass() {
    std::lock_guard<std::mutex> lock(windowClassMutex);
    if (windowClassCount++ > 0)
        return;
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = KelvatoneGui::displayWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassA(&windowClass);
}

void releaseWindowClass() {
    std::lock_guard<std::mutex> lock(windowClassMutex);
    if (--windowClassCount > 0)
        return;
    UnregisterClassA(kWindowClassName, GetModuleHandleA(nullptr));
}

// The display range that the parameter gives, 12 to 48 semitones. A value outside it
// (only from a host that sends parameter values outside 0..1) is drawn as the nearest
// end, which keeps the row loop of the audio thread's redraw short and the scale finite.
constexpr int32_t kMinShownRange = 12;
constexpr int32_t kMaxShownRange = 48;

int32_t shownRange(int32_t displayRange) {
    return std::min(std::max(displayRange, kMinShownRange), kMaxShownRange);
}

// Semitone above C of a row pitch, also for pitches below C0.
int semitoneOf(int32_t pitch) {
    const int32_t semitone = (pitch / kCentsPerSemitone) % kSemitonesPerOctave;
    return semitone < 0 ? semitone + kSemitonesPerOctave : semitone;
}

// The notes held in any of the sets.
HeldNoteSet unionOf(const HeldNoteSet* sets, int count) {
    HeldNoteSet all;
    for (int i = 0; i < count; ++i)
        for (int w = 0; w < 4; ++w)
            all.words[w] |= sets[i].words[w];
    return all;
}

KelvatoneGui* editorOf(HWND window) {
    return reinterpret_cast<KelvatoneGui*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

} // namespace

KelvatoneGui::KelvatoneGui(AudioEffect* effect, AnalysisEngine* engine)
    : AEffGUIEditor(effect), engine(engine) {
    rect.top = 0;
    rect.left = 0;
    rect.bottom = kHeight;
    rect.right = kWidth;
    acquireWindowClass();
    view.store(
        packView(kInitialViewCentre - engine->displayRange.load() * kCentsPerSemitone / 2, 0),
        std::memory_order_relaxed);

    LOGFONTA font;
    std::memset(&font, 0, sizeof font);
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof font, &font);
    font.lfHeight = kGridLabelHeight;
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    gridLabelFont = CreateFontIndirectA(&font);
    font.lfHeight = kNoteLabelHeight;
    font.lfWeight = FW_BOLD;
    noteLabelFont = CreateFontIndirectA(&font);
    font.lfHeight = kHoldLabelHeight;
    holdLabelFont = CreateFontIndirectA(&font);

    matchPen = CreatePen(PS_SOLID, kHeldNotePenWidth, kMatchColour);
    mismatchPen = CreatePen(PS_SOLID, kHeldNotePenWidth, kMismatchColour);
}

KelvatoneGui::~KelvatoneGui() {
    stopRedraws();
    if (createdWindow)
        retireWindow(createdWindow);
    HDC dc = backBufferDc.load(std::memory_order_acquire);
    if (dc)
        DeleteDC(dc);
    DeleteObject(gridLabelFont);
    DeleteObject(noteLabelFont);
    DeleteObject(holdLabelFont);
    HBITMAP bitmap = backBufferBitmap.load(std::memory_order_acquire);
    if (bitmap)
        DeleteObject(bitmap);
    DeleteObject(matchPen);
    DeleteObject(mismatchPen);
    releaseWindowClass();
}

int KelvatoneGui::windowClassUsers() {
    std::lock_guard<std::mutex> lock(windowClassMutex);
    return windowClassCount;
}

bool KelvatoneGui::open(void* parent) {
    systemWindow = parent;
    if (createdWindow) {
        stopRedraws();
        retireWindow(createdWindow);
        createdWindow = nullptr;
    }
    HWND window =
        CreateWindowExA(0, kWindowClassName, kWindowTitle, kWindowStyle, 0, 0, kWidth, kHeight,
                        static_cast<HWND>(parent), nullptr, GetModuleHandleA(nullptr), this);
    createdWindow = window;
    displayWindow.store(window, std::memory_order_release);
    return true;
}

void KelvatoneGui::close() {
    stopRedraws();
#ifndef _WIN32
    // The layer's thread of the window must be gone before the host destroys the
    // parent window in its X server.
    if (createdWindow) {
        retireWindow(createdWindow);
        createdWindow = nullptr;
    }
#endif
}

void KelvatoneGui::stopRedraws() {
    displayWindow.store(nullptr, std::memory_order_release);
    // A redraw that saw the window before it was cleared finishes inside the guard.
    drawGuard.lock();
    drawGuard.unlock();
}

void KelvatoneGui::retireWindow(HWND window) {
    if (!IsWindow(window) || editorOf(window) != this)
        return;
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
#ifndef _WIN32
    DestroyWindow(window);
#endif
}

LRESULT CALLBACK KelvatoneGui::displayWindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    if (message == WM_CREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* editor = static_cast<KelvatoneGui*>(creation->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(editor));
        editor->createBackBuffer(window);
        return 0;
    }
    KelvatoneGui* editor = editorOf(window);
    if (!editor)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        editor->paint(window);
        return 0;
    case WM_LBUTTONDOWN: {
        const int x = LOWORD(lParam);
        const int y = HIWORD(lParam);
        if (x >= kHoldAreaLeft && x <= kHoldAreaRight && y >= kHoldAreaTop && y <= kHoldAreaBottom)
            editor->toggleHold();
        return 0;
    }
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void KelvatoneGui::createBackBuffer(HWND window) {
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    SelectObject(dc, bitmap);
    ReleaseDC(window, screen);

    drawGuard.lock();
    HDC oldDc = backBufferDc.exchange(dc, std::memory_order_acq_rel);
    HBITMAP oldBitmap = backBufferBitmap.exchange(bitmap, std::memory_order_acq_rel);
    drawGuard.unlock();
    if (oldDc)
        DeleteDC(oldDc);
    if (oldBitmap)
        DeleteObject(oldBitmap);
}

void KelvatoneGui::paint(HWND window) {
    PAINTSTRUCT painting;
    HDC target = BeginPaint(window, &painting);
    drawGuard.lock();
    BitBlt(target, 0, 0, kWidth, kHeight, backBufferDc.load(std::memory_order_acquire), 0, 0,
           SRCCOPY);
    drawGuard.unlock();
    EndPaint(window, &painting);
    if (pictureMissed.exchange(false, std::memory_order_acquire))
        drawMissedPicture();
}

void KelvatoneGui::drawMissedPicture() {
    // The view has already moved on for the frames whose drawing was skipped; only the
    // picture is behind.
    drawGuard.lock();
    HWND window = displayWindow.load(std::memory_order_acquire);
    if (window) {
        drawPicture(backBufferDc.load(std::memory_order_acquire),
                    engine->currentPitch.load(std::memory_order_relaxed));
        InvalidateRect(window, nullptr, FALSE);
    }
    drawGuard.unlock();
}

void KelvatoneGui::toggleHold() {
    hold.store(!hold.load(std::memory_order_relaxed), std::memory_order_relaxed);
    // The history's arrays are replaced only while drawGuard is held (see
    // tryExcludeDrawing), so drawing under it is safe while the audio thread analyses;
    // the audio thread never waits for this drawing, and its analysis never stops.
    drawGuard.lock();
    HWND window = displayWindow.load(std::memory_order_acquire);
    if (window) {
        renderPicture(backBufferDc.load(std::memory_order_acquire));
        InvalidateRect(window, nullptr, FALSE);
    }
    drawGuard.unlock();
}

bool KelvatoneGui::tryExcludeDrawing() {
    return drawGuard.tryLock();
}

void KelvatoneGui::allowDrawing() {
    drawGuard.unlock();
}

void KelvatoneGui::redraw() {
    if (!displayWindow.load(std::memory_order_acquire))
        return;
    if (!drawGuard.tryLock()) {
        // A paint is copying the back buffer, or a click is drawing. The view still
        // follows the pitch, so that where it stands never depends on when paints
        // happened, and the painting thread draws the picture after its copy.
        scrollView(engine->currentPitch.load(std::memory_order_relaxed), pictureSpan());
        pictureMissed.store(true, std::memory_order_release);
        return;
    }
    // close clears the window before it waits for the guard, so a window seen here,
    // with the guard held, still exists until the guard is released.
    if (displayWindow.load(std::memory_order_acquire)) {
        renderPicture(backBufferDc.load(std::memory_order_acquire));
        HWND window = displayWindow.load(std::memory_order_acquire);
        if (window)
            InvalidateRect(window, nullptr, FALSE);
    }
    drawGuard.unlock();
}

int KelvatoneGui::rowOf(int32_t pitch, double scale) const {
    const int32_t above = pitch - pictureBase;
    return kHeight - static_cast<int>(static_cast<double>(above) * scale);
}

void KelvatoneGui::renderPicture(HDC dc) {
    const PitchCents result = engine->currentPitch.load(std::memory_order_relaxed);
    scrollView(result, pictureSpan());
    drawPicture(dc, result);
}

double KelvatoneGui::pictureScale() const {
    return kHeight / (shownRange(engine->displayRange.load(std::memory_order_relaxed)) *
                      static_cast<double>(kCentsPerSemitone));
}

double KelvatoneGui::pictureSpan() const {
    return kHeight / pictureScale();
}

void KelvatoneGui::drawPicture(HDC dc, PitchCents result) {
    // One view for the whole picture, even if a scroll happens meanwhile.
    pictureBase = getViewBase();
    PatBlt(dc, 0, 0, kWidth, kHeight, BLACKNESS);
    const double scale = pictureScale();
    const double span = kHeight / scale;

    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCPenColor(dc, kCRowColour);
    MoveToEx(dc, kRuleX, 0, nullptr);
    LineTo(dc, kRuleX, kHeight);

    SelectObject(dc, gridLabelFont);
    SetBkMode(dc, TRANSPARENT);
    drawGrid(dc, scale, span);
    if (engine->historyPitch && engine->historyNotes) {
        takeShownHistory();
        drawHeldNotes(dc, scale, span);
        drawTrace(dc, scale);
    }
    drawCurrentNote(dc, result);
    drawHoldLabel(dc);
}

void KelvatoneGui::scrollView(PitchCents result, double span) {
    if (result < 0)
        return;
    // The audio thread and a click may scroll at once: each move applies whole.
    uint64_t current = view.load(std::memory_order_relaxed);
    for (;;) {
        const int32_t base = baseOf(current);
        const int32_t step = stepOf(current);
        uint64_t next;
        if (result < base + kScrollMargin)
            next = packView(base - step, step + kScrollAcceleration);
        else if (result > (span + base) - kScrollMargin)
            next = packView(base + step, step + kScrollAcceleration);
        else
            next = packView(base, 0);
        if (view.compare_exchange_weak(current, next, std::memory_order_relaxed))
            return;
    }
}

void KelvatoneGui::drawGrid(HDC dc, double scale, double span) {
    const int32_t gridStart = pictureBase / kCentsPerSemitone * kCentsPerSemitone;
    const double gridEnd = (span + gridStart) + kCentsPerSemitone;
    for (int32_t pitch = gridStart; pitch < gridEnd; pitch += kCentsPerSemitone) {
        const int semitone = semitoneOf(pitch);
        if (!kNaturalNote[semitone])
            continue;
        const bool cRow = semitone == 0;
        const COLORREF colour = cRow ? kCRowColour : kNaturalRowColour;
        SetDCPenColor(dc, colour);
        SetTextColor(dc, colour);
        const int y = rowOf(pitch, scale);
        MoveToEx(dc, cRow ? kCRowLineStartX : kRowLineStartX, y, nullptr);
        LineTo(dc, kWidth, y);

        char label[kLabelCapacity];
        const int length = noteLabel(pitch / kCentsPerSemitone,
                                     octaveLabelOffset.load(std::memory_order_relaxed), label);
        TextOutA(dc, 0, y - kGridLabelRise, label, length);
    }
}

void KelvatoneGui::takeShownHistory() {
    const int32_t next = engine->historyIndex.load(std::memory_order_relaxed);
    int column = (next + kHiddenColumns) % kHistoryLength;
    for (int i = 0; i < kShownColumns; ++i, column = column + 1 < kHistoryLength ? column + 1 : 0) {
        shownPitch[i] = engine->historyPitch[column].load(std::memory_order_relaxed);
        shownNotes[i] = engine->historyNotes[column].load();
    }
}

void KelvatoneGui::drawHeldNotes(HDC dc, double scale, double span) {
    SetROP2(dc, R2_MERGEPEN);
    const int32_t gridStart = pictureBase / kCentsPerSemitone * kCentsPerSemitone;
    const double gridEnd = (span + gridStart) + kCentsPerSemitone;
    // A row whose note no shown column holds draws nothing: skip its columns.
    const HeldNoteSet heldAnywhere = unionOf(shownNotes, kShownColumns);
    // Selecting the pen that is already selected changes nothing: only switches are made.
    HPEN selectedPen = nullptr;
    for (int32_t pitch = gridStart; pitch < gridEnd; pitch += kCentsPerSemitone) {
        const int32_t midiNote = pitch / kCentsPerSemitone + kMidiNoteOffset;
        if (!heldAnywhere.contains(midiNote))
            continue;
        const int y = rowOf(pitch, scale);
        bool previousHeld = false;
        for (int i = 0; i < kShownColumns; ++i) {
            const bool held = shownNotes[i].contains(midiNote);
            const int x = kFirstColumnX + kColumnPitch * i;
            if (held && previousHeld) {
                const PitchCents pitchThere = shownPitch[i];
                const bool matched = pitchThere != kNoPitch &&
                                     pitchThere > pitch - kMatchTolerance &&
                                     pitchThere < pitch + kMatchTolerance;
                HPEN pen = matched ? matchPen : mismatchPen;
                if (pen != selectedPen) {
                    SelectObject(dc, pen);
                    selectedPen = pen;
                }
                LineTo(dc, x, y);
            } else if (held) {
                MoveToEx(dc, x, y, nullptr);
            }
            previousHeld = held;
        }
    }
}

void KelvatoneGui::drawTrace(HDC dc, double scale) {
    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCPenColor(dc, kTraceColour);
    PitchCents previous = kNoPitch;
    for (int i = 0; i < kShownColumns; ++i) {
        const PitchCents pitch = shownPitch[i];
        if (pitch >= 0) {
            const int x = kFirstColumnX + kColumnPitch * i;
            const int y = rowOf(pitch, scale);
            if (previous < 0 || std::abs(pitch - previous) > kTraceJoinLimit)
                MoveToEx(dc, x, y, nullptr);
            else
                LineTo(dc, x, y);
        }
        previous = pitch;
    }
}

void KelvatoneGui::drawCurrentNote(HDC dc, PitchCents result) {
    if (result < 0)
        return;
    SelectObject(dc, noteLabelFont);
    SetTextColor(dc, kLabelColour);
    char label[kLabelCapacity];
    const int length =
        pitchNoteLabel(result, octaveLabelOffset.load(std::memory_order_relaxed), label);
    TextOutA(dc, kNoteLabelX, kNoteLabelY, label, length);
}

void KelvatoneGui::drawHoldLabel(HDC dc) {
    SetTextColor(dc, hold.load(std::memory_order_relaxed) ? kHoldOnColour : kHoldOffColour);
    SelectObject(dc, holdLabelFont);
    TextOutA(dc, kHoldLabelX, kHoldLabelY, kHoldLabel, static_cast<int>(sizeof kHoldLabel - 1));
}
