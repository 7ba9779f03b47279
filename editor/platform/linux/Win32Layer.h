// Our own Win32 layer for Linux: the subset of USER32, GDI32, KERNEL32 and OLE32
// that the display editor uses, declared in the global namespace with the Win32
// names, types, structure layouts and constant values of 64-bit Windows, so that
// the editor's source compiles unchanged against either platform.
//
// Drawing is a software raster with GDI's rules (memory device contexts, 32-bit
// BGRX bitmaps, Bresenham lines that leave out the end point, round-ended wide
// pens, R2_COPYPEN / R2_MERGEPEN, transparent top-left anchored text in embedded
// X11 "misc-fixed" bitmap fonts). Windows are X11 child windows, each served by a
// thread of the layer's own that turns X events into window messages.
//
// Which thread may call what:
// - InvalidateRect, GetWindowLongPtrA, SetWindowLongPtrA, IsWindow: any thread;
//   InvalidateRect allocates nothing, takes no lock and makes no system call, so
//   it may be called from the audio thread.
// - The drawing calls on a memory device context (PatBlt, BitBlt between memory
//   contexts, SelectObject, SetDCPenColor, SetTextColor, SetBkMode, SetBkColor,
//   SetROP2, MoveToEx, LineTo, TextOutA): any thread, one thread per device context
//   at a time; they allocate nothing and take no lock.
// - Creating and deleting objects, classes and windows: any thread, not real-time
//   (they allocate and lock).
// - Window procedures are called on the window's own thread, except WM_CREATE,
//   which arrives inside CreateWindowExA on the caller's thread, and WM_DESTROY,
//   which arrives inside DestroyWindow on the caller's thread (or on the window's
//   thread when the X window went away with the host's parent window or with the
//   X server).
//
// Where the layer differs from Windows:
// - Only child windows (WS_CHILD) exist; the parent is an X11 window id, as a
//   host passes it to the editor, or a window of ours. Without an X display or
//   with a parent that does not exist, CreateWindowExA returns NULL. At most 64
//   windows and 4095 GDI objects exist at once.
// - DestroyWindow stops the window's thread and waits for it before the X window
//   goes; the window procedure must therefore not wait for DestroyWindow's caller.
//   Called from the window's own procedure it returns at once and the thread ends
//   after the procedure returns.
// - PeekMessageA always reports no message and DispatchMessageA does nothing:
//   every message is sent on the window's own thread, so the display works
//   whether or not the host calls the editor's idle function.
// - Drawing goes to memory device contexts only; on a window's device context
//   only BitBlt (SRCCOPY from a memory context) has an effect.
// - CreateCompatibleBitmap always makes a 32-bit bitmap.
// - DeleteObject of an object selected into a device context fails (returns
//   FALSE) as GDI documents; Wine's GDI defers the deletion and returns TRUE.
// - Fonts are the embedded faces 5x8, 6x13, 7x14 and 10x20 (normal and bold);
//   CreateFontIndirectA picks the one nearest in |lfHeight|, then in lfWeight.
//   Characters outside 32..126 advance without a glyph.
// - OleInitialize and OleUninitialize do nothing and succeed.
// - XInitThreads is never called (it is process-wide and only safe before the
//   host's first Xlib call): each X connection of ours is used by one thread at a
//   time. The layer's X error handler swallows errors of its own connections and
//   passes all others to the handler it found; it re-installs itself in front
//   whenever the host has replaced it, and gives the host's back at unload.
#pragma once

#include <cstddef>
#include <cstdint>

// Basic types, with the sizes of 64-bit Windows (LONG and DWORD are 32 bits).
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef WORD ATOM;
typedef DWORD COLORREF;
typedef LONG HRESULT;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;

// Handles are distinct pointer types, as with STRICT on Windows.
#define KELVATONE_DECLARE_HANDLE(name)                                                             \
    struct name##__ {                                                                              \
        int unused;                                                                                \
    };                                                                                             \
    typedef struct name##__* name
KELVATONE_DECLARE_HANDLE(HWND);
KELVATONE_DECLARE_HANDLE(HDC);
KELVATONE_DECLARE_HANDLE(HBITMAP);
KELVATONE_DECLARE_HANDLE(HPEN);
KELVATONE_DECLARE_HANDLE(HFONT);
KELVATONE_DECLARE_HANDLE(HBRUSH);
KELVATONE_DECLARE_HANDLE(HINSTANCE);
KELVATONE_DECLARE_HANDLE(HICON);
KELVATONE_DECLARE_HANDLE(HMENU);
#undef KELVATONE_DECLARE_HANDLE
typedef void* HGDIOBJ;
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;

#define WINAPI
#define CALLBACK
#define CONST const

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

// Structures, field for field as on 64-bit Windows.
typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *LPPOINT;

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *LPSIZE;

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

#define LF_FACESIZE 32
typedef struct tagLOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *LPLOGFONTA;
// The editor copies the stock font's record with GetObjectA(..., sizeof(LOGFONTA),
// ...) and Windows' GDI answers exactly 60 bytes for it.
static_assert(sizeof(LOGFONTA) == 60, "LOGFONTA is 60 bytes as in Windows");
static_assert(offsetof(LOGFONTA, lfItalic) == 20, "LOGFONTA layout as in Windows");
static_assert(offsetof(LOGFONTA, lfFaceName) == 28, "LOGFONTA layout as in Windows");

typedef struct tagLOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
} LOGPEN;

typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP;

// Macros.
#define RGB(r, g, b)                                                                               \
    ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))

// Results.
#define S_OK ((HRESULT)0)
#define CLR_INVALID 0xFFFFFFFF
#define HGDI_ERROR ((HGDIOBJ)(LONG_PTR)-1)

// Error codes reported by GetLastError.
#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_TLW_WITH_WSCHILD 1406
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_CLASS_DOES_NOT_EXIST 1411
#define ERROR_CLASS_HAS_WINDOWS 1412

// Window messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_TIMER 0x0113
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010
#define WHEEL_DELTA 120

// Window styles and window data.
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define GWLP_USERDATA (-21)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// Messages.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// Stock objects.
#define WHITE_BRUSH 0
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define ANSI_FIXED_FONT 11
#define SYSTEM_FONT 13
#define DC_BRUSH 18
#define DC_PEN 19

// Object types for GetCurrentObject.
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_FONT 6
#define OBJ_BITMAP 7

// Raster operations of PatBlt and BitBlt.
#define SRCCOPY ((DWORD)0x00CC0020)
#define PATCOPY ((DWORD)0x00F00021)
#define BLACKNESS ((DWORD)0x00000042)
#define WHITENESS ((DWORD)0x00FF0062)

// Binary raster operations of SetROP2.
#define R2_COPYPEN 13
#define R2_MERGEPEN 15

// Pens, brushes and the background mode.
#define PS_SOLID 0
#define PS_NULL 5
#define BS_SOLID 0
#define BS_NULL 1
#define TRANSPARENT 1
#define OPAQUE 2

// Fonts.
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_SWISS 0x20
#define FF_MODERN 0x30
#define FF_DECORATIVE 0x50
#define OUT_DEFAULT_PRECIS 0
#define OUT_STRING_PRECIS 1
#define CLIP_DEFAULT_PRECIS 0
#define CLIP_STROKE_PRECIS 2
#define DEFAULT_QUALITY 0
#define ANSI_CHARSET 0

// KERNEL32.
HMODULE GetModuleHandleA(LPCSTR moduleName);
DWORD GetLastError(void);
void SetLastError(DWORD error);
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);

// OLE32: nothing to initialise here; both calls succeed and do nothing.
HRESULT OleInitialize(LPVOID reserved);
void OleUninitialize(void);

// USER32: classes and windows.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetCursorPos(LPPOINT point);
BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage);
LRESULT DispatchMessageA(const MSG* message);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
// One timer per window: WM_TIMER with wParam = id on the window's own thread, every
// `elapse` ms or at the pace of the window's loop (15 ms), whichever is longer. A second
// SetTimer on the window replaces the first. Timer procedures are not supported: with one,
// SetTimer fails (answers 0). Any thread.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
// Stops the window's timer if its id matches. Any thread; a WM_TIMER already under way on
// the window's thread still finishes.
BOOL KillTimer(HWND window, UINT_PTR id);

// USER32: device contexts of windows.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

// GDI32: device contexts and objects.
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HGDIOBJ GetCurrentObject(HDC dc, UINT type);
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int index);
int GetObjectA(HANDLE object, int size, LPVOID buffer);
HFONT CreateFontIndirectA(const LOGFONTA* font);
HPEN CreatePen(int style, int width, COLORREF colour);
HPEN CreatePenIndirect(const LOGPEN* pen);
HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
LONG GetBitmapBits(HBITMAP bitmap, LONG size, LPVOID bits);

// GDI32: attributes and drawing.
COLORREF SetDCPenColor(HDC dc, COLORREF colour);
COLORREF SetTextColor(HDC dc, COLORREF colour);
int SetBkMode(HDC dc, int mode);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int SetROP2(HDC dc, int mode);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);
BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);
