#include "tests/editor/EditorTestSupport.h"

#include <cstring>

HostRecord hostRecord;

intptr_t recordingHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterIdle:
        ++hostRecord.idleRequests;
        if (hostRecord.onIdle)
            hostRecord.onIdle();
        return 1;
    case audioMasterBeginEdit:
        hostRecord.lastBeginEdit = index;
        return 1;
    case audioMasterEndEdit:
        hostRecord.lastEndEdit = index;
        return 1;
    default:
        return 0;
    }
}

TestEffect::TestEffect(int32_t displayRange) : AudioEffectX(recordingHost, 1, 6) {
    engine.displayRange.store(displayRange);
    new KelvatoneGui(this, &engine);
    engine.configure(44100.0);
}

void TestEffect::setShownColumn(int i, PitchCents pitch, const HeldNoteSet& notes) {
    const int next = engine.historyIndex.load();
    const int column = (next + kHistoryLength - KelvatoneGui::kShownColumns + i) % kHistoryLength;
    engine.historyPitch[column].store(pitch);
    engine.historyNotes[column].store(notes);
}

void TestEffect::clearHistory() {
    for (int i = 0; i < kHistoryLength; ++i) {
        engine.historyPitch[i].store(kNoPitch);
        engine.historyNotes[i].store(HeldNoteSet{});
    }
}

void drawFrame(TestEffect& effect, HDC dc) {
    effect.gui().scrollView(effect.engine.currentPitch.load());
    effect.gui().drawPicture(dc);
}

bool waitForPicture(KelvatoneGui& gui) {
    constexpr int kPolls = 2000;
    if (!gui.getBackBufferBitmap() || !gui.getDisplayWindow())
        return false;
    for (int poll = 0; poll < kPolls; ++poll) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (!gui.pictureDue())
            return true;
        Sleep(1);
    }
    return false;
}

std::vector<uint32_t> readBitmap(HBITMAP bitmap) {
    std::vector<uint32_t> image(static_cast<size_t>(KelvatoneGui::kWidth) * KelvatoneGui::kHeight);
    const LONG bytes = static_cast<LONG>(image.size() * sizeof(uint32_t));
    GetBitmapBits(bitmap, bytes, image.data());
    for (uint32_t& pixel : image)
        pixel &= 0x00FFFFFF;
    return image;
}

PixelSurface::PixelSurface() {
    HDC screen = GetDC(nullptr);
    surfaceDc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, KelvatoneGui::kWidth, KelvatoneGui::kHeight);
    ReleaseDC(nullptr, screen);
    previousBitmap = SelectObject(surfaceDc, bitmap);
}

PixelSurface::~PixelSurface() {
    SelectObject(surfaceDc, previousBitmap);
    DeleteDC(surfaceDc);
    DeleteObject(bitmap);
}

std::vector<uint32_t> PixelSurface::pixels() const {
    return readBitmap(bitmap);
}

HWND createPlainChild(HWND parent) {
    static const char kChildClassName[] = "kelvatone-test-child";
    static const bool registered = [] {
        WNDCLASSA windowClass;
        std::memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kChildClassName;
        return RegisterClassA(&windowClass) != 0;
    }();
    (void)registered;
    return CreateWindowExA(0, kChildClassName, "child", WS_CHILD | WS_VISIBLE, 10, 20,
                           KelvatoneGui::kWidth, KelvatoneGui::kHeight, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

#ifdef _WIN32

namespace {
const char kHostClassName[] = "kelvatone-test-host";

void registerHostClass() {
    static const bool registered = [] {
        WNDCLASSA windowClass;
        std::memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kHostClassName;
        return RegisterClassA(&windowClass) != 0;
    }();
    (void)registered;
}
} // namespace

HostWindow::HostWindow() {
    registerHostClass();
    window = CreateWindowExA(0, kHostClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 420,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HostWindow::~HostWindow() {
    if (window)
        DestroyWindow(window);
}

bool windowsAvailable() {
    return true;
}

#endif

#ifndef _WIN32

#include <X11/Xlib.h>

namespace {
// The test process's own connection, standing in for the host's.
Display* hostDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}
} // namespace

HostWindow::HostWindow() {
    Display* display = hostDisplay();
    if (!display)
        return;
    const ::Window xWindow =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 700, 420, 0, 0, 0);
    XMapWindow(display, xWindow);
    XSync(display, False);
    window = reinterpret_cast<HWND>(static_cast<uintptr_t>(xWindow));
}

HostWindow::~HostWindow() {
    if (!window)
        return;
    XDestroyWindow(hostDisplay(), static_cast<::Window>(reinterpret_cast<uintptr_t>(window)));
    XSync(hostDisplay(), False);
}

bool windowsAvailable() {
    return hostDisplay() != nullptr;
}

#endif
