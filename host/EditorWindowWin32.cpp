// The editor window on Windows: a top-level Win32 window whose client area the
// module's editor window fills as a child.
#include <windows.h>

#include "host/EditorWindow.h"

namespace kelvatone::host {
namespace {

constexpr const char* kWindowClass = "KelvatoneHostWindow";
// A fixed-size frame: the editor decides the size.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kBitsPerPixel = 32;

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerWindowClass() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

class Win32EditorWindow final : public EditorWindow {
public:
    Win32EditorWindow(HWND window, int width, int height)
        : EditorWindow(width, height), window_(window) {}

    ~Win32EditorWindow() override { DestroyWindow(window_); }

    void* parentHandle() const override { return window_; }

    void pumpEvents() override {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

    void raise() override {
        SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        pumpEvents();
    }

    bool capture(io::Image& image, std::string& error) override {
        HDC windowDc = GetDC(window_);
        HDC memoryDc = CreateCompatibleDC(windowDc);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width();
        info.bmiHeader.biHeight = -height(); // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = kBitsPerPixel;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bool ok = bitmap != nullptr;
        if (ok) {
            HGDIOBJ previous = SelectObject(memoryDc, bitmap);
            // The window has no WS_CLIPCHILDREN, so its DC shows the child's pixels too.
            ok = BitBlt(memoryDc, 0, 0, width(), height(), windowDc, 0, 0, SRCCOPY) != 0;
            GdiFlush();
            if (ok) {
                copyPixels(static_cast<const uint8_t*>(bits), image);
            }
            SelectObject(memoryDc, previous);
            DeleteObject(bitmap);
        }
        DeleteDC(memoryDc);
        ReleaseDC(window_, windowDc);
        if (!ok) {
            error = "cannot read the editor window's pixels (BitBlt failed)";
        }
        return ok;
    }

    void deliverTestEvents() override {
        // EnumChildWindows reaches every descendant, the editor's own children too.
        EnumChildWindows(window_, pokeChild, 0);
        pumpEvents();
    }

protected:
    void clickInside(int x, int y) override {
        POINT point{x, y};
        HWND target = deepestChildAt(point);
        const LPARAM position = MAKELPARAM(point.x, point.y);
        PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, position);
        PostMessageA(target, WM_LBUTTONUP, 0, position);
    }

private:
    static BOOL CALLBACK pokeChild(HWND child, LPARAM) {
        RECT client;
        if (!GetClientRect(child, &client)) {
            return TRUE;
        }
        const LPARAM centre = MAKELPARAM(client.right / 2, client.bottom / 2);
        InvalidateRect(child, nullptr, FALSE);
        PostMessageA(child, WM_MOUSEMOVE, 0, centre);
        PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        PostMessageA(child, WM_LBUTTONUP, 0, centre);
        return TRUE;
    }

    // The innermost visible child under `point` (client coordinates of our window);
    // the point comes back in that child's client coordinates.
    HWND deepestChildAt(POINT& point) const {
        HWND current = window_;
        for (;;) {
            HWND child = ChildWindowFromPointEx(current, point, CWP_SKIPINVISIBLE);
            if (child == nullptr || child == current) {
                return current;
            }
            MapWindowPoints(current, child, &point, 1);
            current = child;
        }
    }

    void copyPixels(const uint8_t* bgra, io::Image& image) const {
        sizeImage(image);
        const size_t count = image.rgb.size() / 3;
        for (size_t i = 0; i < count; ++i) {
            image.rgb[3 * i + 0] = bgra[4 * i + 2];
            image.rgb[3 * i + 1] = bgra[4 * i + 1];
            image.rgb[3 * i + 2] = bgra[4 * i + 0];
        }
    }

    HWND window_;
};

} // namespace

std::unique_ptr<EditorWindow> EditorWindow::create(int width, int height, const std::string& title,
                                                   std::string& error) {
    if (!registerWindowClass()) {
        error = "cannot register the host's window class";
        return nullptr;
    }
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, kWindowStyle, FALSE);
    HWND window = CreateWindowExA(0, kWindowClass, title.c_str(), kWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) {
        error = "cannot create the editor window (Windows error " + std::to_string(GetLastError()) +
                ")";
        return nullptr;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return std::make_unique<Win32EditorWindow>(window, width, height);
}

} // namespace kelvatone::host
