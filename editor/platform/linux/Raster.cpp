#include "editor/platform/linux/Raster.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kelvatone::raster {
namespace {

constexpr std::uint32_t kPixelMask = 0x00FFFFFF;

bool inside(const Surface& s, std::int64_t x, std::int64_t y) {
    return x >= 0 && y >= 0 && x < s.width && y < s.height;
}

void plot(Surface& s, int x, int y, std::uint32_t pen, PixelOp op) {
    std::uint32_t& p = s.pixels[static_cast<std::size_t>(y) * s.width + x];
    p = op.apply(p, pen);
}

// Floor of a / b for b > 0.
std::int64_t floorDiv(__int128 a, std::int64_t b) {
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
    for (int y = top; y < bottom; ++y)
        std::fill_n(s.pixels + static_cast<std::size_t>(y) * s.width + left,
                    std::max(right - left, 0), pixel);
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
    const bool bottomUp = src.pixels == d.pixels && sy < dy;
    for (std::int64_t row = 0; row < h; ++row) {
        const std::int64_t r = bottomUp ? h - 1 - row : row;
        std::memmove(d.pixels + (dy + r) * d.width + dx, src.pixels + (sy + r) * src.width + sx,
                     static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    }
}

void drawThinLine(Surface& s, int x0, int y0, int x1, int y1, std::uint32_t pen, PixelOp op) {
    const std::int64_t dx = std::int64_t{x1} - x0, dy = std::int64_t{y1} - y0;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t steps = xMajor ? std::llabs(dx) : std::llabs(dy);
    if (steps == 0)
        return;
    const std::int64_t majorStart = xMajor ? x0 : y0, minorStart = xMajor ? y0 : x0;
    const std::int64_t minorDelta = xMajor ? dy : dx;
    const int direction = (xMajor ? dx : dy) > 0 ? 1 : -1;
    std::int64_t first = 0, last = 0;
    clipSteps(majorStart, direction, steps, xMajor ? s.width : s.height, first, last);
    if (first >= last)
        return;
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
        if (inside(s, px, py))
            plot(s, static_cast<int>(px), static_cast<int>(py), pen, op);
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

void drawWideLine(Surface& s, int x0, int y0, int x1, int y1, int width, std::uint32_t pen,
                  PixelOp op) {
    const int reach = width / 2 + 1;
    const int left = std::max<std::int64_t>(0, std::int64_t{std::min(x0, x1)} - reach);
    const int right = std::min<std::int64_t>(s.width - 1, std::int64_t{std::max(x0, x1)} + reach);
    const int top = std::max<std::int64_t>(0, std::int64_t{std::min(y0, y1)} - reach);
    const int bottom = std::min<std::int64_t>(s.height - 1, std::int64_t{std::max(y0, y1)} + reach);
    const __int128 dx = std::int64_t{x1} - x0, dy = std::int64_t{y1} - y0;
    const __int128 length2 = dx * dx + dy * dy;
    const __int128 width2 = static_cast<__int128>(width) * width;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            // Lit when 4 * distance^2 <= width^2, distance to the closed segment.
            const __int128 px = std::int64_t{x} - x0, py = std::int64_t{y} - y0;
            const __int128 along = px * dx + py * dy;
            bool lit;
            if (along <= 0 || length2 == 0) {
                lit = 4 * (px * px + py * py) <= width2;
            } else if (along >= length2) {
                const __int128 ex = std::int64_t{x} - x1, ey = std::int64_t{y} - y1;
                lit = 4 * (ex * ex + ey * ey) <= width2;
            } else {
                const __int128 cross = px * dy - py * dx;
                lit = 4 * cross * cross <= width2 * length2;
            }
            if (lit)
                plot(s, x, y, pen, op);
        }
    }
}

void drawText(Surface& s, const fonts::FixedFace& face, int x, int y, const char* text, int length,
              std::uint32_t foreground, bool opaque, std::uint32_t background) {
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
        if (code < fonts::firstChar || code > fonts::lastChar)
            continue;
        const std::uint16_t* rows =
            face.glyphRows + static_cast<std::size_t>(code - fonts::firstChar) * face.cellHeight;
        for (int row = 0; row < face.cellHeight; ++row) {
            const std::int64_t py = std::int64_t{y} + row;
            if (py < 0 || py >= s.height)
                continue;
            for (int column = 0; column < 16; ++column) {
                if (!(rows[row] >> column & 1))
                    continue;
                const std::int64_t px = cellX + column;
                if (inside(s, px, py))
                    s.pixels[static_cast<std::size_t>(py) * s.width + px] = foreground;
            }
        }
    }
}

} // namespace kelvatone::raster
