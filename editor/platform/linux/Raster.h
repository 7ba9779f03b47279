// Pixel algorithms of the software raster, on 32-bit surfaces whose pixels are
// 0x00RRGGBB (the byte order of a 32-bit BGRX device-independent bitmap). Every
// operation is clipped to the surface, allocates nothing and takes no lock.
#pragma once

#include <cstdint>

#include "editor/platform/linux/FixedFonts.h"

namespace kelvatone::platform::raster {

// What is known of one row of a surface: every pixel outside [left, right) is `fill`.
// left >= right: the whole row is `fill`.
struct RowExtent {
    int left;
    int right;
    std::uint32_t fill;
};

struct Surface {
    int width = 0;
    int height = 0;
    std::uint32_t* pixels = nullptr; // width * height, rows top to bottom
    // Optional, one per row, kept up to date by every operation below: a fill of whole
    // rows then writes only the pixels that may differ from its colour. Null: not kept.
    RowExtent* rows = nullptr;
};

// The extent of a row that is all `fill`.
constexpr RowExtent uniformRow(int width, std::uint32_t fill) {
    return RowExtent{width, 0, fill};
}

// A binary raster operation of SetROP2 (1 to 16): result bit = bit
// (2 * pen bit + destination bit) of (mode - 1).
struct PixelOp {
    int mode;
    std::uint32_t apply(std::uint32_t destination, std::uint32_t pen) const;
};

// COLORREF 0x00BBGGRR to pixel 0x00RRGGBB.
std::uint32_t pixelFromColour(std::uint32_t colour);

void fillRect(Surface& surface, int left, int top, int right, int bottom, std::uint32_t pixel);

// Copies width x height pixels from (sourceX, sourceY) of source to (x, y) of
// destination; both rectangles are clipped, and overlapping copies within one
// surface are handled.
void copyRect(Surface& destination, int x, int y, int width, int height, const Surface& source,
              int sourceX, int sourceY);

// A 1-pixel line from (x0, y0) towards (x1, y1), the end point left out, lighting
// the pixels that GDI's cosmetic line does: one pixel per step of the major axis,
// the minor coordinate rounded to nearest with ties going to the smaller value.
void drawThinLine(Surface& surface, int x0, int y0, int x1, int y1, std::uint32_t pen, PixelOp op);

// A line of the given width with round ends: every pixel whose centre lies within
// width / 2 of the segment, both end points included.
void drawWideLine(Surface& surface, int x0, int y0, int x1, int y1, int width, std::uint32_t pen,
                  PixelOp op);

// Draws text in a fixed face with the cell's top-left corner at (x, y). With
// opaque set the cells are first filled with background. Characters outside
// the face's range advance without a glyph.
void drawText(Surface& surface, const fonts::FixedFace& face, int x, int y, const char* text,
              int length, std::uint32_t foreground, bool opaque, std::uint32_t background);

} // namespace kelvatone::platform::raster
