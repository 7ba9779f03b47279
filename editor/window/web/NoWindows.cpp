// USER32 where there is no window system (the WebAssembly build): classes register, but no
// window can be made, as with our Linux layer when no X display is reachable. The editor
// then runs without a window and its model is read by the page instead. Every function
// may be called from any thread; none allocates.
#include "editor/platform/linux/Win32Layer.h"

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Any nonzero atom: the class is never looked up, since no window is made.
    return 1;
}

BOOL UnregisterClassA(LPCSTR, HINSTANCE) {
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR) {
    return nullptr;
}

HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                     LPVOID) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL DestroyWindow(HWND) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

BOOL IsWindow(HWND) {
    return FALSE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

LONG_PTR SetWindowLongPtrA(HWND, int, LONG_PTR) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

LONG_PTR GetWindowLongPtrA(HWND, int) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL InvalidateRect(HWND, const RECT*, BOOL) {
    return FALSE;
}

UINT_PTR SetTimer(HWND, UINT_PTR, UINT, TIMERPROC) {
    return 0;
}

BOOL KillTimer(HWND, UINT_PTR) {
    return FALSE;
}

BOOL GetWindowRect(HWND, LPRECT) {
    return FALSE;
}

BOOL GetCursorPos(LPPOINT) {
    return FALSE;
}

BOOL PeekMessageA(LPMSG, HWND, UINT, UINT, UINT) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG*) {
    return 0;
}
