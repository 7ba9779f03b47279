// The drawing calls on memory device contexts. Built for both platforms: under
// Wine these same expectations hold for Windows' GDI, which is what our Linux
// raster is meant to reproduce.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "editor/platform/Win32.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreenish = RGB(0x10, 0x80, 0x01);
constexpr std::uint32_t kWhitePixel = 0x00FFFFFF;

using Points = std::set<std::pair<int, int>>;

class Canvas {
public:
    Canvas(int width = kWidth, int height = kHeight) : width_(width), height_(height) {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        previous_ = SelectObject(dc_, bitmap_);
        PatBlt(dc_, 0, 0, width, height, BLACKNESS);
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    std::vector<std::uint32_t> pixels() const {
        std::vector<std::uint32_t> p(static_cast<std::size_t>(width_) * height_);
        GetBitmapBits(bitmap_, static_cast<LONG>(p.size() * 4), p.data());
        for (auto& v : p)
            v &= 0x00FFFFFF;
        return p;
    }
    std::uint32_t at(int x, int y) const { return pixels()[y * width_ + x]; }
    Points lit() const {
        Points points;
        const auto p = pixels();
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (p[y * width_ + x])
                    points.insert({x, y});
        return points;
    }
    void line(int x0, int y0, int x1, int y1) {
        MoveToEx(dc_, x0, y0, nullptr);
        LineTo(dc_, x1, y1);
    }
    void useDcPen(COLORREF colour) {
        SelectObject(dc_, GetStockObject(DC_PEN));
        SetDCPenColor(dc_, colour);
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

TEST(RasterFill, PatBltFillsClippedRectanglesAndBitBltCopies) {
    Canvas c;
    PatBlt(c.dc(), -10, -10, 30, 25, WHITENESS);
    EXPECT_EQ(c.at(0, 0), kWhitePixel);
    EXPECT_EQ(c.at(19, 14), kWhitePixel);
    EXPECT_EQ(c.at(20, 14), 0u);
    EXPECT_EQ(c.at(19, 15), 0u);
    PatBlt(c.dc(), 5, 5, 100, 100, BLACKNESS); // beyond the right and bottom edges
    EXPECT_EQ(c.at(4, 4), kWhitePixel);
    EXPECT_EQ(c.at(5, 5), 0u);
    EXPECT_EQ(c.lit().size(), 20u * 15u - 15u * 10u);

    Canvas target;
    EXPECT_TRUE(BitBlt(target.dc(), 30, 20, 10, 10, c.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(target.at(30, 20), kWhitePixel);
    EXPECT_EQ(target.at(34, 24), kWhitePixel);
    EXPECT_EQ(target.at(35, 25), 0u);
    EXPECT_EQ(target.lit().size(), 25u + 5u * 5u + 5u * 5u);                 // the L of white left
    EXPECT_TRUE(BitBlt(target.dc(), 60, 44, 10, 10, c.dc(), 0, 0, SRCCOPY)); // clipped
    EXPECT_EQ(target.at(63, 47), kWhitePixel);
}

TEST(RasterLines, EndPointIsLeftOutAndBecomesCurrent) {
    Canvas c;
    c.useDcPen(kRed);
    c.line(2, 5, 10, 5);
    Points expected;
    for (int x = 2; x < 10; ++x)
        expected.insert({x, 5});
    EXPECT_EQ(c.lit(), expected);
    POINT previous{};
    MoveToEx(c.dc(), 0, 0, &previous);
    EXPECT_EQ(previous.x, 10);
    EXPECT_EQ(previous.y, 5);
    EXPECT_EQ(c.at(2, 5), 0x00FF0000u); // red as a BGRX pixel

    Canvas v;
    v.useDcPen(kRed);
    v.line(7, 30, 7, 20); // upwards
    expected.clear();
    for (int y = 21; y <= 30; ++y)
        expected.insert({7, y});
    EXPECT_EQ(v.lit(), expected);

    Canvas d;
    d.useDcPen(kRed);
    d.line(3, 3, 8, 8);
    EXPECT_EQ(d.lit(), (Points{{3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}}));
}

TEST(RasterLines, SlopesRoundToNearestWithTiesToTheSmallerCoordinate) {
    Canvas steep;
    steep.useDcPen(kRed);
    steep.line(0, 0, 3, 9);
    EXPECT_EQ(steep.lit(),
              (Points{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}, {2, 7}, {3, 8}}));
    // Half-way points: an x-major line takes the upper pixel, so the same segment
    // drawn in the other direction lights different pixels.
    Canvas forward;
    forward.useDcPen(kRed);
    forward.line(10, 10, 14, 12);
    EXPECT_EQ(forward.lit(), (Points{{10, 10}, {11, 10}, {12, 11}, {13, 11}}));
    Canvas backward;
    backward.useDcPen(kRed);
    backward.line(14, 12, 10, 10);
    EXPECT_EQ(backward.lit(), (Points{{14, 12}, {13, 11}, {12, 11}, {11, 10}}));
    // A y-major tie takes the left pixel.
    Canvas yMajor;
    yMajor.useDcPen(kRed);
    yMajor.line(20, 10, 22, 14);
    EXPECT_EQ(yMajor.lit(), (Points{{20, 10}, {20, 11}, {21, 12}, {21, 13}}));
}

TEST(RasterLines, ClippingKeepsThePixelsOfTheUnclippedLine) {
    const int shiftX = 40, shiftY = 30;
    const int lines[][4] = {
        {-20, -7, 50, 30}, {60, 40, 70, 60}, {-5, 47, 80, 20}, {63, -9, 10, 55}};
    for (const auto& l : lines) {
        Canvas small;
        Canvas big(kWidth + 2 * shiftX, kHeight + 2 * shiftY);
        small.useDcPen(kRed);
        big.useDcPen(kRed);
        small.line(l[0], l[1], l[2], l[3]);
        big.line(l[0] + shiftX, l[1] + shiftY, l[2] + shiftX, l[3] + shiftY);
        Points inside;
        for (const auto& p : big.lit()) {
            const int x = p.first - shiftX, y = p.second - shiftY;
            if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
                inside.insert({x, y});
        }
        EXPECT_EQ(small.lit(), inside) << "line from " << l[0] << "," << l[1];
    }
    Canvas outside;
    outside.useDcPen(kRed);
    outside.line(-100, -100, -10, 200);
    outside.line(0, 1000000, 1000000000, 1000000);
    EXPECT_TRUE(outside.lit().empty());
    outside.line(-1000000000, 3, 1000000000, 3); // far end points, a short visible run
    EXPECT_EQ(outside.lit().size(), static_cast<std::size_t>(kWidth));
}

TEST(RasterLines, MergePenOrsThePenIntoThePixels) {
    Canvas c;
    c.useDcPen(kGreenish);
    c.line(0, 4, 20, 4);
    SetROP2(c.dc(), R2_MERGEPEN);
    SetDCPenColor(c.dc(), RGB(0x01, 0x0F, 0x80));
    c.line(10, 0, 10, 10);
    EXPECT_EQ(c.at(10, 4), 0x00118F81u); // (0x10|0x01, 0x80|0x0F, 0x01|0x80)
    EXPECT_EQ(c.at(10, 3), 0x00010F80u);
    EXPECT_EQ(c.at(9, 4), 0x00108001u);
    EXPECT_EQ(SetROP2(c.dc(), R2_COPYPEN), R2_MERGEPEN);
    c.line(10, 0, 10, 10);
    EXPECT_EQ(c.at(10, 4), 0x00010F80u);
}

Points disc(int cx, int cy) {
    Points p;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (dx * dx + dy * dy <= 5)
                p.insert({cx + dx, cy + dy});
    return p;
}

// A horizontal 5-pixel segment as GDI draws it, limited to the canvas.
Points horizontalBar(int x0, int x1, int y) {
    Points all;
    for (int x = x0; x <= x1; ++x)
        for (const auto& p : disc(x, y))
            all.insert(p);
    Points visible;
    for (const auto& p : all)
        if (p.first >= 0 && p.second >= 0 && p.first < kWidth && p.second < kHeight)
            visible.insert(p);
    return visible;
}

TEST(RasterWidePens, FivePixelSegmentsHaveRoundEndsOnBothPoints) {
    Canvas c;
    HPEN pen = CreatePen(PS_SOLID, 5, kBlue);
    HGDIOBJ previous = SelectObject(c.dc(), pen);
    c.line(10, 10, 12, 10);
    EXPECT_EQ(c.lit(), horizontalBar(10, 12, 10)); // 7 x 5 with the four corners cut
    EXPECT_EQ(c.lit().size(), 31u);
    EXPECT_EQ(c.at(12, 10), 0x000000FFu);

    Canvas dot;
    SelectObject(dot.dc(), pen);
    dot.line(30, 30, 30, 30);
    EXPECT_EQ(dot.lit(), disc(30, 30));

    Canvas vertical;
    SelectObject(vertical.dc(), pen);
    SetROP2(vertical.dc(), R2_MERGEPEN);
    vertical.line(20, 20, 20, 26);
    vertical.line(20, 26, 20, 20); // drawn twice: the OR keeps the colour
    Points column;
    for (int y = 20; y <= 26; ++y)
        for (const auto& p : disc(20, y))
            column.insert(p);
    EXPECT_EQ(vertical.lit(), column);
    EXPECT_EQ(vertical.at(20, 23), 0x000000FFu);

    Canvas edge; // clipped at the corner
    SelectObject(edge.dc(), pen);
    edge.line(0, 0, 2, 0);
    EXPECT_EQ(edge.lit(), horizontalBar(0, 2, 0));
    EXPECT_EQ(edge.lit().size(), 14u);
    SelectObject(c.dc(), previous);
    SelectObject(dot.dc(), previous);
    SelectObject(vertical.dc(), previous);
    SelectObject(edge.dc(), previous);
    EXPECT_TRUE(DeleteObject(pen));
}

TEST(RasterObjects, SelectObjectReturnsThePreviousObjectAndDeleteRespectsSelection) {
    Canvas c;
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HPEN other = CreatePen(PS_SOLID, 5, kBlue);
    EXPECT_EQ(SelectObject(c.dc(), pen), GetStockObject(BLACK_PEN)); // a new context's pen
    EXPECT_EQ(GetCurrentObject(c.dc(), OBJ_PEN), pen);
    EXPECT_EQ(SelectObject(c.dc(), other), pen);
    EXPECT_EQ(SelectObject(c.dc(), GetStockObject(DC_PEN)), other);
    EXPECT_EQ(GetCurrentObject(c.dc(), OBJ_BITMAP), c.bitmap());
    EXPECT_EQ(SelectObject(c.dc(), nullptr), nullptr);

    // A bitmap lives in one memory context at a time.
    HDC second = CreateCompatibleDC(c.dc());
    EXPECT_EQ(SelectObject(second, c.bitmap()), nullptr);
    EXPECT_TRUE(DeleteDC(second));

    LOGPEN record{};
    EXPECT_EQ(GetObjectA(other, sizeof record, &record), static_cast<int>(sizeof record));
    EXPECT_EQ(record.lopnWidth.x, 5);
    EXPECT_EQ(record.lopnColor, kBlue);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(other));
    EXPECT_FALSE(DeleteObject(pen)); // already gone
    EXPECT_EQ(GetObjectA(pen, sizeof record, &record), 0);
    EXPECT_TRUE(DeleteObject(GetStockObject(DC_PEN))); // stock objects stay
    EXPECT_NE(GetObjectA(GetStockObject(DC_PEN), sizeof record, &record), 0);
}

#ifndef _WIN32
// GDI documents that an object selected into a device context cannot be deleted;
// Wine's GDI defers the deletion and answers TRUE, so this holds for our layer.
TEST(RasterObjects, SelectedObjectsAreNotDeleted) {
    Canvas c;
    HPEN pen = CreatePen(PS_SOLID, 5, kRed);
    HGDIOBJ previous = SelectObject(c.dc(), pen);
    EXPECT_FALSE(DeleteObject(pen));
    c.line(10, 10, 20, 10); // still usable
    EXPECT_EQ(c.at(15, 12), 0x00FF0000u);
    EXPECT_FALSE(DeleteObject(c.bitmap()));
    SelectObject(c.dc(), previous);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(c.dc())); // contexts are released with DeleteDC
}
#endif

TEST(RasterText, StockFixedFontRecordIsSixtyBytesOfAFixedPitchFont) {
    LOGFONTA font{};
    EXPECT_EQ(GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof font, &font), 60);
    EXPECT_EQ(font.lfPitchAndFamily & 3, FIXED_PITCH);
    EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
    EXPECT_GT(font.lfHeight, 0);
}

struct Ink {
    int left = kWidth, top = kHeight, right = -1, bottom = -1;
    int count = 0;
};

Ink inkOf(const Canvas& c, std::uint32_t background) {
    Ink ink;
    const auto p = c.pixels();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (p[y * kWidth + x] != background) {
                ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
                ++ink.count;
            }
    return ink;
}

HFONT fixedFont(int height, int weight) {
    LOGFONTA font{};
    GetObjectA(GetStockObject(ANSI_FIXED_FONT), sizeof font, &font);
    font.lfHeight = height;
    font.lfWidth = 0;
    font.lfWeight = weight;
    return CreateFontIndirectA(&font);
}

TEST(RasterText, TransparentTextIsAnchoredTopLeftInItsColourAndSize) {
    const struct {
        int height, weight;
    } fonts[] = {{-8, FW_NORMAL}, {-14, FW_BOLD}, {-20, FW_BOLD}};
    for (const auto& f : fonts) {
        Canvas c;
        PatBlt(c.dc(), 0, 0, kWidth, kHeight, WHITENESS);
        HFONT font = fixedFont(f.height, f.weight);
        HGDIOBJ previous = SelectObject(c.dc(), font);
        SetBkMode(c.dc(), TRANSPARENT);
        SetBkColor(c.dc(), kBlue);
        SetTextColor(c.dc(), kRed);
        EXPECT_TRUE(TextOutA(c.dc(), 10, 12, "HH", 2));
        const Ink ink = inkOf(c, kWhitePixel);
        const int size = -f.height;
        EXPECT_GE(ink.left, 10) << size;
        EXPECT_GE(ink.top, 12) << size;
        EXPECT_LE(ink.top, 12 + size / 2) << size;
        EXPECT_GE(ink.bottom - ink.top + 1, size / 2) << size;
        EXPECT_LE(ink.bottom - ink.top + 1, size + 2) << size;
        EXPECT_GE(ink.right - ink.left + 1, size / 2) << size; // two characters
        EXPECT_LE(ink.right - ink.left + 1, 2 * size) << size;
        int red = 0;
        for (std::uint32_t p : c.pixels()) {
            EXPECT_EQ(p >> 16, 0xFFu); // red on white: the red channel stays full, no blue fill
            red += p == 0x00FF0000u;
        }
        EXPECT_GT(red, 0) << size;
        SelectObject(c.dc(), previous);
        DeleteObject(font);
    }
}

TEST(RasterText, OpaqueTextFillsItsCellsAndClippedTextIsSafe) {
    Canvas c;
    HFONT font = fixedFont(-14, FW_BOLD);
    HGDIOBJ previous = SelectObject(c.dc(), font);
    SetBkMode(c.dc(), OPAQUE);
    SetBkColor(c.dc(), kBlue);
    SetTextColor(c.dc(), kRed);
    TextOutA(c.dc(), 20, 20, "Ab", 2);
    const Ink ink = inkOf(c, 0);
    EXPECT_EQ(ink.left, 20);
    EXPECT_EQ(ink.top, 20);
    EXPECT_EQ(c.at(20, 20), 0x000000FFu); // the cell's corner is background
    EXPECT_TRUE(TextOutA(c.dc(), -30, -30, "Hold", 4));
    EXPECT_TRUE(TextOutA(c.dc(), kWidth - 3, kHeight - 3, "Hold", 4));
    EXPECT_TRUE(TextOutA(c.dc(), 0, 0, "", 0));
    SelectObject(c.dc(), previous);
    DeleteObject(font);
}

} // namespace
