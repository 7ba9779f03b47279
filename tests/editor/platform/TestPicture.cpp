#include "tests/editor/platform/TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvatone::testpicture {
namespace {

constexpr COLORREF kLightGrey = RGB(192, 192, 192);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kMatchBlue = RGB(16, 128, 255);
constexpr COLORREF kMismatchBlue = RGB(16, 16, 255);
constexpr int kRowSpacing = 20;
constexpr int kTraceColumns = 310;
constexpr int kStarRays = 96;
constexpr double kPi = 3.14159265358979323846;

void line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

void grid(HDC dc) {
    SelectObject(dc, GetStockObject(DC_PEN));
    for (int y = 0; y < kHeight; y += kRowSpacing) {
        const bool cRow = y % (7 * kRowSpacing) == 0;
        SetDCPenColor(dc, cRow ? kLightGrey : kGrey);
        line(dc, cRow ? 17 : 19, y, kWidth, y);
    }
    SetDCPenColor(dc, kLightGrey);
    line(dc, 19, 0, 19, kHeight);
    line(dc, 0, kHeight - 1, kWidth, kHeight - 1); // the bottom row
}

// Bars of 2-pixel segments as the display draws held notes, some clipped.
void bars(HDC dc, HPEN match, HPEN mismatch) {
    SetROP2(dc, R2_MERGEPEN);
    const struct {
        int y, firstX, lastX;
    } rows[] = {{0, 20, 120},  {40, 20, 300},   {41, 200, 260},  {100, 300, 400},
                {180, -6, 40}, {240, 600, 646}, {359, 100, 180}, {357, 400, 460}};
    int column = 0;
    for (const auto& r : rows) {
        MoveToEx(dc, r.firstX, r.y, nullptr);
        for (int x = r.firstX + 2; x <= r.lastX; x += 2, ++column) {
            SelectObject(dc, column % 5 < 3 ? match : mismatch);
            LineTo(dc, x, r.y);
        }
    }
    // A single held column: a move with no segment draws nothing.
    MoveToEx(dc, 500, 60, nullptr);
    SelectObject(dc, GetStockObject(DC_PEN));
    SetROP2(dc, R2_COPYPEN);
}

// The pitch trace: 1-pixel segments of many slopes, breaks where it jumps.
void trace(HDC dc) {
    SelectObject(dc, GetStockObject(DC_PEN));
    SetDCPenColor(dc, kYellow);
    int previous = -1;
    for (int i = 0; i < kTraceColumns; ++i) {
        const int x = 20 + 2 * i;
        const int y =
            180 + static_cast<int>(std::lround(100 * std::sin(i * 0.05) + 30 * std::sin(i * 0.37) +
                                               9 * std::sin(i * 1.3)));
        if (previous < 0 || std::abs(y - previous) > 40)
            MoveToEx(dc, x, y, nullptr);
        else
            LineTo(dc, x, y);
        previous = y;
    }
}

// Rays of every octant with integer end points, many with rounding ties.
void star(HDC dc, int cx, int cy, int radius) {
    SetDCPenColor(dc, kWhite);
    for (int k = 0; k < kStarRays; ++k) {
        const double a = 2 * kPi * k / kStarRays;
        line(dc, cx, cy, cx + static_cast<int>(std::lround(radius * std::cos(a))),
             cy + static_cast<int>(std::lround(radius * std::sin(a))));
    }
    // Lines that leave the bitmap or lie outside it.
    SetDCPenColor(dc, kLightGrey);
    line(dc, 600, 300, 700, 421);
    line(dc, -50, -31, 60, 50);
    line(dc, 630, 10, 651, -3);
    line(dc, -10, 200, -1, 360);
    line(dc, 10, 400, 300, 370);
    line(dc, 5, 355, 40, 365);
}

std::vector<RECT> widePenDiagonals(HDC dc, HPEN pen) {
    SetROP2(dc, R2_MERGEPEN);
    SelectObject(dc, pen);
    const POINT from{540, 60};
    const POINT to[] = {{550, 63}, {545, 70}, {536, 72}, {531, 58}, {552, 52}};
    std::vector<RECT> zones;
    for (const POINT& p : to) {
        line(dc, from.x, from.y, p.x, p.y);
        zones.push_back(RECT{std::min(from.x, p.x) - 4, std::min(from.y, p.y) - 4,
                             std::max(from.x, p.x) + 5, std::max(from.y, p.y) + 5});
    }
    SelectObject(dc, GetStockObject(DC_PEN));
    SetROP2(dc, R2_COPYPEN);
    return zones;
}

RECT text(HDC dc, HFONT font, int x, int y, const char* s, COLORREF colour) {
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    const int length = static_cast<int>(std::strlen(s));
    TextOutA(dc, x, y, s, length);
    constexpr int kWidest = 12, kTallest = 24;
    return RECT{x - 2, y - 2, x + length * kWidest + 2, y + kTallest};
}

} // namespace

Zones draw(HDC dc) {
    Zones zones;
    PatBlt(dc, 0, 0, kWidth, kHeight, BLACKNESS);
    grid(dc);
    HPEN match = CreatePen(PS_SOLID, 5, kMatchBlue);
    LOGPEN record{PS_SOLID, {5, 5}, kMismatchBlue};
    HPEN mismatch = CreatePenIndirect(&record);
    bars(dc, match, mismatch);
    trace(dc);
    star(dc, 470, 260, 70);
    zones.widePens = widePenDiagonals(dc, mismatch);

    LOGFONTA font{};
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof font, &font);
    font.lfHeight = -8, font.lfWidth = 0, font.lfWeight = FW_NORMAL;
    HFONT small = CreateFontIndirectA(&font);
    font.lfHeight = -20, font.lfWeight = FW_BOLD;
    HFONT large = CreateFontIndirectA(&font);
    font.lfHeight = -14;
    HFONT medium = CreateFontIndirectA(&font);
    SetBkMode(dc, TRANSPARENT);
    zones.text.push_back(text(dc, small, 0, 174, "C4", kLightGrey));
    zones.text.push_back(text(dc, small, 0, 334, "E3", kGrey));
    zones.text.push_back(text(dc, large, 300, 2, "A#4", kWhite));
    zones.text.push_back(text(dc, medium, 592, 8, "Hold", kGrey));
    SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(small);
    DeleteObject(large);
    DeleteObject(medium);
    DeleteObject(match);
    DeleteObject(mismatch);
    return zones;
}

bool inside(const std::vector<RECT>& zones, int x, int y) {
    for (const RECT& r : zones)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return true;
    return false;
}

bool writePixels(const std::string& path, const std::vector<std::uint32_t>& pixels) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = true;
    for (std::size_t i = 0; i < pixels.size();) {
        std::size_t run = 1;
        while (i + run < pixels.size() && pixels[i + run] == pixels[i])
            ++run;
        const std::uint32_t pair[2] = {static_cast<std::uint32_t>(run), pixels[i]};
        std::uint8_t bytes[8];
        for (int k = 0; k < 8; ++k)
            bytes[k] = static_cast<std::uint8_t>(pair[k / 4] >> (8 * (k % 4)));
        ok = ok && std::fwrite(bytes, 1, 8, file) == 8;
        i += run;
    }
    return std::fclose(file) == 0 && ok;
}

bool readPixels(const std::string& path, std::vector<std::uint32_t>& pixels) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    pixels.clear();
    std::uint8_t bytes[8];
    const std::size_t limit = static_cast<std::size_t>(kWidth) * kHeight;
    while (std::fread(bytes, 1, 8, file) == 8) {
        std::uint32_t pair[2] = {0, 0};
        for (int k = 0; k < 8; ++k)
            pair[k / 4] |= std::uint32_t{bytes[k]} << (8 * (k % 4));
        if (pair[0] > limit - pixels.size())
            break;
        pixels.insert(pixels.end(), pair[0], pair[1]);
    }
    std::fclose(file);
    return pixels.size() == limit;
}

Picture render() {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    Picture picture;
    picture.zones = draw(dc);
    picture.pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
    GetBitmapBits(bitmap, static_cast<LONG>(picture.pixels.size() * 4), picture.pixels.data());
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
    for (std::uint32_t& p : picture.pixels)
        p &= 0x00FFFFFF;
    return picture;
}

} // namespace kelvatone::testpicture
