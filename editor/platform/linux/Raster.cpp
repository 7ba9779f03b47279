#include "editor/platform/linux/Raster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kelvatone::platform::raster {
namespace {

constexpr std::uint32_t kPixelMask = 0x00FFFFFF;
constexpr int kGlyphColumns = 16;
// SetROP2's R2_COPYPEN and R2_MERGEPEN.
constexpr int kCopyPenMode = 13;
constexpr int kMergePenMode = 15;

// The raster operations of the display: the pen replaces the pixel, or is ORed into it.
// Every other mode goes through PixelOp::apply.
struct CopyPen {
    std::uint32_t operator()(std::uint32_t, std::uint32_t pen) const { return pen & kPixelMask; }
};
struct MergePen {
    std::uint32_t operator()(std::uint32_t destination, std::uint32_t pen) const {
        return (destination | pen) & kPixelMask;
    }
};
struct AnyPen {
    PixelOp op;
    std::uint32_t operator()(std::uint32_t destination, std::uint32_t pen) const {
        return op.apply(destination, pen);
    }
};

// Calls draw with the cheapest operation object that computes op.
template <typename Draw> void withOperation(PixelOp op, Draw&& draw) {
    if (op.mode == kCopyPenMode)
        draw(CopyPen{});
    else if (op.mode == kMergePenMode)
        draw(MergePen{});
    else
        draw(AnyPen{op});
}

std::uint32_t* rowPixels(const Surface& s, int y) {
    return s.pixels + static_cast<std::size_t>(y) * s.width;
}

// Widens the known extents of rows top..bottom-1 by the columns left..right-1 (all inside
// the surface), which the caller is about to write.
void markRows(Surface& s, int top, int bottom, int left, int right) {
    if (!s.rows || left >= right)
        return;
    for (int y = top; y < bottom; ++y) {
        RowExtent& row = s.rows[y];
        row.left = std::min(row.left, left);
        row.right = std::max(row.right, right);
    }
}

// Four pixels in one 128-bit register (SSE2, which every x86-64 processor has).
typedef std::uint32_t FourPixels __attribute__((vector_size(16)));
constexpr int kPixelsPerVector = 4;
constexpr int kShortestMemsetRun = 64;

FourPixels loadFour(const std::uint32_t* p) {
    FourPixels v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void storeFour(std::uint32_t* p, FourPixels v) {
    std::memcpy(p, &v, sizeof v);
}

void fillPixels(std::uint32_t* p, int count, std::uint32_t pixel) {
    if (count <= 0)
        return;
    const unsigned char byte = static_cast<unsigned char>(pixel);
    // Short runs (most rows of a picture have a few pixels drawn: the rule, a label)
    // cost less as stores than as a call of memset.
    if (count >= kShortestMemsetRun && pixel == byte * 0x01010101u) {
        std::memset(p, byte, static_cast<std::size_t>(count) * sizeof *p);
        return;
    }
    const FourPixels four = {pixel, pixel, pixel, pixel};
    int i = 0;
    for (; i + kPixelsPerVector <= count; i += kPixelsPerVector)
        storeFour(p + i, four);
    for (; i < count; ++i)
        p[i] = pixel;
}

template <typename Op> void applyToRun(std::uint32_t* p, int count, std::uint32_t pen, Op op) {
    for (int i = 0; i < count; ++i)
        p[i] = op(p[i], pen);
}

void applyToRun(std::uint32_t* p, int count, std::uint32_t pen, CopyPen) {
    fillPixels(p, count, pen & kPixelMask);
}

void applyToRun(std::uint32_t* p, int count, std::uint32_t pen, MergePen op) {
    const std::uint32_t masked = pen & kPixelMask;
    const FourPixels four = {masked, masked, masked, masked};
    const FourPixels mask = {kPixelMask, kPixelMask, kPixelMask, kPixelMask};
    int i = 0;
    for (; i + kPixelsPerVector <= count; i += kPixelsPerVector)
        storeFour(p + i, (loadFour(p + i) | four) & mask);
    for (; i < count; ++i)
        p[i] = op(p[i], pen);
}

// Pixels x = left..right-1 of row y (all inside the surface).
template <typename Op>
void drawRun(Surface& s, int y, int left, int right, std::uint32_t pen, Op op) {
    if (left >= right)
        return;
    markRows(s, y, y + 1, left, right);
    applyToRun(rowPixels(s, y) + left, right - left, pen, op);
}

// Floor of a / b for b > 0.
std::int64_t floorDiv(__int128 a, std::int64_t b) {
    // Most lines are short: 64-bit division is several times faster.
    if (a >= INT64_MIN && a <= INT64_MAX) {
        const std::int64_t narrow = static_cast<std::int64_t>(a);
        const std::int64_t q = narrow / b;
        return narrow % b != 0 && narrow < 0 ? q - 1 : q;
    }
    __int128 q = a / b;
    if (a % b != 0 && a < 0)
        --q;
    return static_cast<std::int64_t>(q);
}

// The range of steps i in [0, steps) whose major coordinate start + direction * i
// lies in [0, limit).
void clipSteps(std::int64_t start, int direction, std::int64_t steps, std::int64_t limit,
               std::int64_t& first, std::int64_t& last) {
    if (direction > 0) {
        first = std::max<std::int64_t>(0, -start);
        last = std::min<std::int64_t>(steps, limit - start);
    } else {
        first = std::max<std::int64_t>(0, start - limit + 1);
        last = std::min<std::int64_t>(steps, start + 1);
    }
}

// The columns [first, last) of a run from `start` over `steps` pixels in `direction`,
// the end left out, clipped to 0..limit-1.
void clippedRun(std::int64_t start, int direction, std::int64_t steps, int limit, int& first,
                int& last) {
    const std::int64_t low = direction > 0 ? start : start - steps + 1;
    first = static_cast<int>(std::max<std::int64_t>(low, 0));
    last = static_cast<int>(std::min<std::int64_t>(low + steps, limit));
}

template <typename Op>
void drawSlopedThinLine(Surface& s, std::int64_t x0, std::int64_t y0, std::int64_t dx,
                        std::int64_t dy, std::uint32_t pen, Op op) {
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t steps = xMajor ? std::llabs(dx) : std::llabs(dy);
    const std::int64_t majorStart = xMajor ? x0 : y0, minorStart = xMajor ? y0 : x0;
    const std::int64_t minorDelta = xMajor ? dy : dx;
    const int direction = (xMajor ? dx : dy) > 0 ? 1 : -1;
    std::int64_t first = 0, last = 0;
    clipSteps(majorStart, direction, steps, xMajor ? s.width : s.height, first, last);
    if (first >= last)
        return;
    // The pixels lie within the bounding box of the two end points.
    const int boxTop = static_cast<int>(std::max<std::int64_t>(std::min(y0, y0 + dy), 0));
    const int boxBottom =
        static_cast<int>(std::min<std::int64_t>(std::max(y0, y0 + dy) + 1, s.height));
    const int boxLeft = static_cast<int>(std::max<std::int64_t>(std::min(x0, x0 + dx), 0));
    const int boxRight =
        static_cast<int>(std::min<std::int64_t>(std::max(x0, x0 + dx) + 1, s.width));
    if (boxTop >= boxBottom || boxLeft >= boxRight)
        return;
    markRows(s, boxTop, boxBottom, boxLeft, boxRight);
    // Minor offset at step i: round(i * minorDelta / steps), ties to the smaller
    // value, that is ceil((2 i minorDelta - steps) / (2 steps)). Kept as quotient q
    // and remainder r of that division with r in (-2 steps, 0].
    const std::int64_t denominator = 2 * steps;
    const __int128 numerator = static_cast<__int128>(2) * first * minorDelta - steps;
    std::int64_t q = -floorDiv(-numerator, denominator);
    std::int64_t r = static_cast<std::int64_t>(numerator - static_cast<__int128>(q) * denominator);
    for (std::int64_t i = first; i < last; ++i) {
        const std::int64_t major = majorStart + direction * i, minor = minorStart + q;
        const std::int64_t px = xMajor ? major : minor, py = xMajor ? minor : major;
        if (px >= 0 && py >= 0 && px < s.width && py < s.height) {
            std::uint32_t& p = rowPixels(s, static_cast<int>(py))[px];
            p = op(p, pen);
        }
        r += 2 * minorDelta;
        if (r > 0) {
            ++q;
            r -= denominator;
        } else if (r <= -denominator) {
            --q;
            r += denominator;
        }
    }
}

template <typename Op>
void drawThinLineWith(Surface& s, int x0, int y0, int x1, int y1, std::uint32_t pen, Op op) {
    const std::int64_t dx = std::int64_t{x1} - x0, dy = std::int64_t{y1} - y0;
    if (dx == 0 && dy == 0)
        return;
    if (dy == 0) {
        if (y0 < 0 || y0 >= s.height)
            return;
        int first = 0, last = 0;
        clippedRun(x0, dx > 0 ? 1 : -1, std::llabs(dx), s.width, first, last);
        drawRun(s, y0, first, last, pen, op);
        return;
    }
    if (dx == 0) {
        if (x0 < 0 || x0 >= s.width)
            return;
        int first = 0, last = 0;
        clippedRun(y0, dy > 0 ? 1 : -1, std::llabs(dy), s.height, first, last);
        if (first >= last)
            return;
        markRows(s, first, last, x0, x0 + 1);
        for (int y = first; y < last; ++y) {
            std::uint32_t& p = rowPixels(s, y)[x0];
            p = op(p, pen);
        }
        return;
    }
    drawSlopedThinLine(s, x0, y0, dx, dy, pen, op);
}

// Whether the centre of pixel (x, y) lies within width / 2 of the closed segment:
// 4 * distance^2 <= width^2, in exact integer arithmetic.
bool insideWideSegment(int x, int y, int x0, int y0, int x1, int y1, __int128 dx, __int128 dy,
                       __int128 length2, __int128 width2) {
    const __int128 px = std::int64_t{x} - x0, py = std::int64_t{y} - y0;
    const __int128 along = px * dx + py * dy;
    if (along <= 0 || length2 == 0)
        return 4 * (px * px + py * py) <= width2;
    if (along >= length2) {
        const __int128 ex = std::int64_t{x} - x1, ey = std::int64_t{y} - y1;
        return 4 * (ex * ex + ey * ey) <= width2;
    }
    const __int128 cross = px * dy - py * dx;
    return 4 * cross * cross <= width2 * length2;
}

// The largest e >= 0 with 4 (e^2 + offset^2) <= width^2, or -1 when there is none: how
// far a round pen end reaches sideways `offset` rows away from its centre.
int roundEndReach(std::int64_t offset, int width) {
    const std::int64_t room = std::int64_t{width} * width - 4 * offset * offset;
    if (room < 0)
        return -1;
    int e = 0;
    while (4 * std::int64_t{e + 1} * (e + 1) <= room)
        ++e;
    return e;
}

template <typename Op>
void drawWideLineWith(Surface& s, int x0, int y0, int x1, int y1, int width, std::uint32_t pen,
                      Op op) {
    const int reach = width / 2 + 1;
    const int left =
        static_cast<int>(std::max<std::int64_t>(0, std::int64_t{std::min(x0, x1)} - reach));
    const int right = static_cast<int>(
        std::min<std::int64_t>(s.width - 1, std::int64_t{std::max(x0, x1)} + reach));
    const int top =
        static_cast<int>(std::max<std::int64_t>(0, std::int64_t{std::min(y0, y1)} - reach));
    const int bottom = static_cast<int>(
        std::min<std::int64_t>(s.height - 1, std::int64_t{std::max(y0, y1)} + reach));
    if (left > right || top > bottom)
        return;
    if (y0 == y1) {
        // A horizontal segment: each row is lit from the round end around the left point
        // to the one around the right point.
        for (int y = top; y <= bottom; ++y) {
            const int e = roundEndReach(std::int64_t{y} - y0, width);
            if (e < 0)
                continue;
            const int first =
                static_cast<int>(std::max<std::int64_t>(left, std::int64_t{std::min(x0, x1)} - e));
            const int last =
                static_cast<int>(std::min<std::int64_t>(right, std::int64_t{std::max(x0, x1)} + e));
            drawRun(s, y, first, last + 1, pen, op);
        }
        return;
    }
    // The pen covers a convex shape, so its pixels in each row form one run: find its ends.
    const __int128 dx = std::int64_t{x1} - x0, dy = std::int64_t{y1} - y0;
    const __int128 length2 = dx * dx + dy * dy;
    const __int128 width2 = static_cast<__int128>(width) * width;
    for (int y = top; y <= bottom; ++y) {
        int first = left;
        while (first <= right &&
               !insideWideSegment(first, y, x0, y0, x1, y1, dx, dy, length2, width2))
            ++first;
        if (first > right)
            continue;
        int last = right;
        while (!insideWideSegment(last, y, x0, y0, x1, y1, dx, dy, length2, width2))
            --last;
        drawRun(s, y, first, last + 1, pen, op);
    }
}

} // namespace

std::uint32_t PixelOp::apply(std::uint32_t d, std::uint32_t p) const {
    const unsigned table = static_cast<unsigned>(mode - 1);
    std::uint32_t r = 0;
    if (table & 1)
        r |= ~p & ~d;
    if (table & 2)
        r |= ~p & d;
    if (table & 4)
        r |= p & ~d;
    if (table & 8)
        r |= p & d;
    return r & kPixelMask;
}

std::uint32_t pixelFromColour(std::uint32_t c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

void fillRect(Surface& s, int left, int top, int right, int bottom, std::uint32_t pixel) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, s.width);
    bottom = std::min(bottom, s.height);
    if (left >= right)
        return;
    const bool wholeRows = left == 0 && right == s.width;
    for (int y = top; y < bottom; ++y) {
        std::uint32_t* row = rowPixels(s, y);
        if (s.rows) {
            RowExtent& known = s.rows[y];
            if (wholeRows) {
                if (known.fill == pixel)
                    fillPixels(row + known.left, known.right - known.left, pixel);
                else
                    fillPixels(row, s.width, pixel);
                known = uniformRow(s.width, pixel);
                continue;
            }
            if (known.fill != pixel)
                markRows(s, y, y + 1, left, right);
        }
        fillPixels(row + left, right - left, pixel);
    }
}

void copyRect(Surface& d, int x, int y, int width, int height, const Surface& src, int sourceX,
              int sourceY) {
    // Shrink the rectangle until both ends lie inside both surfaces.
    std::int64_t dx = x, dy = y, sx = sourceX, sy = sourceY, w = width, h = height;
    const std::int64_t cutLeft = std::max<std::int64_t>({0, -dx, -sx});
    const std::int64_t cutTop = std::max<std::int64_t>({0, -dy, -sy});
    dx += cutLeft, sx += cutLeft, w -= cutLeft;
    dy += cutTop, sy += cutTop, h -= cutTop;
    w = std::min<std::int64_t>({w, d.width - dx, src.width - sx});
    h = std::min<std::int64_t>({h, d.height - dy, src.height - sy});
    if (w <= 0 || h <= 0)
        return;
    markRows(d, static_cast<int>(dy), static_cast<int>(dy + h), static_cast<int>(dx),
             static_cast<int>(dx + w));
    const bool bottomUp = src.pixels == d.pixels && sy < dy;
    for (std::int64_t row = 0; row < h; ++row) {
        const std::int64_t r = bottomUp ? h - 1 - row : row;
        std::memmove(d.pixels + (dy + r) * d.width + dx, src.pixels + (sy + r) * src.width + sx,
                     static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    }
}

void drawThinLine(Surface& s, int x0, int y0, int x1, int y1, std::uint32_t pen, PixelOp op) {
    withOperation(op, [&](auto pixelOp) { drawThinLineWith(s, x0, y0, x1, y1, pen, pixelOp); });
}

void drawWideLine(Surface& s, int x0, int y0, int x1, int y1, int width, std::uint32_t pen,
                  PixelOp op) {
    withOperation(op,
                  [&](auto pixelOp) { drawWideLineWith(s, x0, y0, x1, y1, width, pen, pixelOp); });
}

void drawText(Surface& s, const fonts::FixedFace& face, int x, int y, const char* text, int length,
              std::uint32_t foreground, bool opaque, std::uint32_t background) {
    const int firstRow = static_cast<int>(std::max<std::int64_t>(0, -std::int64_t{y}));
    const int lastRow =
        static_cast<int>(std::min<std::int64_t>(face.cellHeight, std::int64_t{s.height} - y));
    for (int k = 0; k < length; ++k) {
        const std::int64_t cellX = std::int64_t{x} + std::int64_t{k} * face.cellWidth;
        if (cellX >= s.width)
            break;
        if (cellX + face.cellWidth <= 0)
            continue;
        if (opaque)
            fillRect(s, static_cast<int>(cellX), y, static_cast<int>(cellX) + face.cellWidth,
                     y + face.cellHeight, background);
        const int code = static_cast<unsigned char>(text[k]);
        if (code < fonts::firstChar || code > fonts::lastChar || firstRow >= lastRow)
            continue;
        const std::uint16_t* rows =
            face.glyphRows + static_cast<std::size_t>(code - fonts::firstChar) * face.cellHeight;
        // The glyph's columns that fall inside the surface, as a mask of row bits.
        const int firstColumn = static_cast<int>(std::max<std::int64_t>(0, -cellX));
        const int lastColumn =
            static_cast<int>(std::min<std::int64_t>(kGlyphColumns, s.width - cellX));
        if (firstColumn >= lastColumn)
            continue;
        const std::uint32_t visible = ((1u << lastColumn) - 1u) & ~((1u << firstColumn) - 1u);
        markRows(s, y + firstRow, y + lastRow, static_cast<int>(cellX + firstColumn),
                 static_cast<int>(cellX + lastColumn));
        for (int row = firstRow; row < lastRow; ++row) {
            std::uint32_t bits = rows[row] & visible;
            std::uint32_t* line = rowPixels(s, y + row);
            while (bits != 0) {
                line[cellX + __builtin_ctz(bits)] = foreground;
                bits &= bits - 1;
            }
        }
    }
}

} // namespace kelvatone::platform::raster
