// The calls that the display makes from the audio thread allocate nothing: every
// C++ allocation of this program is counted, per thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "editor/platform/Win32.h"

namespace {
thread_local long allocations = 0;
}

namespace {
void* countedAllocation(std::size_t size) noexcept {
    ++allocations;
    return std::malloc(size ? size : 1);
}
} // namespace

// Every form of new and delete is replaced, so that all of them agree on malloc.
void* operator new(std::size_t size) {
    if (void* p = countedAllocation(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

TEST(Realtime, DrawingAndInvalidationAllocateNothing) {
    const long start = allocations;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HDC copy = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 640, 360);
    HBITMAP other = CreateCompatibleBitmap(screen, 640, 360);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
    HGDIOBJ previousOther = SelectObject(copy, other);
    HPEN wide = CreatePen(PS_SOLID, 5, RGB(16, 128, 255));
    LOGFONTA record{};
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof record, &record);
    record.lfHeight = -20;
    record.lfWeight = FW_BOLD;
    HFONT font = CreateFontIndirectA(&record);
    HGDIOBJ dcPen = GetStockObject(DC_PEN);
    const HWND gone = reinterpret_cast<HWND>(std::uintptr_t{1} << 62);

    const long before = allocations;
    EXPECT_GT(before, start); // the counter counts: creating objects allocates
    PatBlt(dc, 0, 0, 640, 360, BLACKNESS);
    SelectObject(dc, dcPen);
    SetDCPenColor(dc, RGB(192, 192, 192));
    MoveToEx(dc, 19, 0, nullptr);
    LineTo(dc, 19, 360);
    SetROP2(dc, R2_MERGEPEN);
    SelectObject(dc, wide);
    MoveToEx(dc, 20, 40, nullptr);
    LineTo(dc, 22, 40);
    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 300, 2, "A 4", 3);
    BitBlt(copy, 0, 0, 640, 360, dc, 0, 0, SRCCOPY);
    InvalidateRect(gone, nullptr, FALSE);
    EXPECT_EQ(allocations - before, 0);

    SelectObject(dc, previousBitmap);
    SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(copy, previousOther);
    DeleteDC(dc);
    DeleteDC(copy);
    DeleteObject(bitmap);
    DeleteObject(other);
    DeleteObject(wide);
    DeleteObject(font);
}

} // namespace
