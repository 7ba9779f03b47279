#include "editor/KelvatoneGui.h"

#include "analysis/NoteNames.h"

#include <cstring>
#include <mutex>

using namespace kelvatone::analysis;
using namespace kelvatone::vst;

namespace kelvatone::editor {

namespace {

const char kWindowClassName[] = "kelvatone";
const char kWindowTitle[] = "kelvatone";
constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
// The one timer of a display window.
constexpr UINT_PTR kPictureTimer = 1;

// The window class is registered while any editor of the process exists.
std::mutex windowClassMutex;
int windowClassCount = 0; // guarded by windowClassMutex

// Held by the window procedure while it handles a message for an editor, and by
// retireWindow while it detaches an editor from its window: a message either finishes
// with the editor before it is detached, or finds none.
std::mutex windowMessageMutex;

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

KelvatoneGui* editorOf(HWND window) {
    return reinterpret_cast<KelvatoneGui*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

bool inHoldArea(int x, int y) {
    return x >= KelvatoneGui::kHoldAreaLeft && x <= KelvatoneGui::kHoldAreaRight &&
           y >= KelvatoneGui::kHoldAreaTop && y <= KelvatoneGui::kHoldAreaBottom;
}

} // namespace

KelvatoneGui::KelvatoneGui(AudioEffect* editedEffect, AnalysisEngine* analysed)
    : AEffGUIEditor(editedEffect), displayModel(*analysed), hold(displayModel.hold) {
    rect.top = 0;
    rect.left = 0;
    rect.bottom = kHeight;
    rect.right = kWidth;
    acquireWindowClass();
}

KelvatoneGui::~KelvatoneGui() {
    displayWindow.store(nullptr, std::memory_order_release);
    if (createdWindow)
        retireWindow(createdWindow);
    if (backBufferDc)
        DeleteDC(backBufferDc);
    if (backBufferBitmap)
        DeleteObject(backBufferBitmap);
    releaseWindowClass();
}

int KelvatoneGui::windowClassUsers() {
    std::lock_guard<std::mutex> lock(windowClassMutex);
    return windowClassCount;
}

bool KelvatoneGui::open(void* parent) {
    systemWindow = parent;
    if (createdWindow) {
        displayWindow.store(nullptr, std::memory_order_release);
        retireWindow(createdWindow);
        createdWindow = nullptr;
    }
    HWND window =
        CreateWindowExA(0, kWindowClassName, kWindowTitle, kWindowStyle, 0, 0, kWidth, kHeight,
                        static_cast<HWND>(parent), nullptr, GetModuleHandleA(nullptr), this);
    createdWindow = window;
    if (window)
        SetTimer(window, kPictureTimer, kPictureTimerMilliseconds, nullptr);
    displayWindow.store(window, std::memory_order_release);
    // The new window shows the current picture at its first paint or timer tick.
    pictureChanged();
    return true;
}

void KelvatoneGui::close() {
    displayWindow.store(nullptr, std::memory_order_release);
    if (!createdWindow)
        return;
#ifdef _WIN32
    // The host destroys the window with its own. A host that keeps its window and opens
    // the editor in it again must see the new window, not this one: hidden, it covers
    // nothing.
    KillTimer(createdWindow, kPictureTimer);
    ShowWindow(createdWindow, SW_HIDE);
#else
    // The layer's thread of the window must be gone before the host destroys the
    // parent window in its X server.
    retireWindow(createdWindow);
    createdWindow = nullptr;
#endif
}

void KelvatoneGui::retireWindow(HWND window) {
    if (!IsWindow(window))
        return;
    {
        std::lock_guard<std::mutex> lock(windowMessageMutex);
        if (editorOf(window) != this)
            return;
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
    KillTimer(window, kPictureTimer);
#ifdef _WIN32
    ShowWindow(window, SW_HIDE);
#else
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
    if (message != WM_PAINT && message != WM_TIMER && message != WM_LBUTTONDOWN)
        return DefWindowProcA(window, message, wParam, lParam);

    std::lock_guard<std::mutex> lock(windowMessageMutex);
    KelvatoneGui* editor = editorOf(window);
    if (!editor)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        editor->paint(window);
        break;
    case WM_TIMER:
        editor->drawIfDue();
        break;
    default:
        if (inHoldArea(LOWORD(lParam), HIWORD(lParam)))
            editor->toggleHold();
        break;
    }
    return 0;
}

void KelvatoneGui::createBackBuffer(HWND window) {
    HDC screen = GetDC(window);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    SelectObject(dc, bitmap);
    ReleaseDC(window, screen);

    if (backBufferDc)
        DeleteDC(backBufferDc);
    if (backBufferBitmap)
        DeleteObject(backBufferBitmap);
    backBufferDc = dc;
    backBufferBitmap = bitmap;
}

bool KelvatoneGui::pictureDue() const {
    return displayModel.changes() != drawnChanges.load(std::memory_order_acquire) ||
           octaveLabelOffset.load(std::memory_order_acquire) !=
               drawnOctaveOffset.load(std::memory_order_relaxed);
}

void KelvatoneGui::drawBackBuffer() {
    // Counted before the snapshot, so the picture shows at least these changes; one that
    // comes meanwhile leaves the picture due for the next tick.
    const uint32_t changes = displayModel.changes();
    const Snapshot snapshot = takeSnapshot();
    renderer.draw(backBufferDc, snapshot);
    drawnOctaveOffset.store(snapshot.octaveOffset, std::memory_order_relaxed);
    // Released after the drawing: whoever then finds the picture up to date sees its pixels.
    drawnChanges.store(changes, std::memory_order_release);
}

void KelvatoneGui::paint(HWND window) {
    PAINTSTRUCT painting;
    HDC target = BeginPaint(window, &painting);
    if (pictureDue() && displayWindow.load(std::memory_order_acquire) == window)
        drawBackBuffer();
    BitBlt(target, 0, 0, kWidth, kHeight, backBufferDc, 0, 0, SRCCOPY);
    EndPaint(window, &painting);
}

void KelvatoneGui::drawIfDue() {
    if (pictureDue())
        redraw();
}

void KelvatoneGui::redraw() {
    HWND window = displayWindow.load(std::memory_order_acquire);
    if (!window)
        return;
    drawBackBuffer();
    InvalidateRect(window, nullptr, FALSE);
}

void KelvatoneGui::drawPicture(HDC dc) const {
    const Snapshot snapshot = takeSnapshot();
    renderer.draw(dc, snapshot);
}

void KelvatoneGui::frameAnalysed(PitchCents result) {
    if (!displayWindow.load(std::memory_order_acquire))
        return;
    displayModel.frameAnalysed(result);
}

void KelvatoneGui::toggleHold() {
    displayModel.toggleHold(displayWindow.load(std::memory_order_acquire) != nullptr);
    redraw();
}

} // namespace kelvatone::editor
