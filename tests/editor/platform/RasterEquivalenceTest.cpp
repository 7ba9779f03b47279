// The raster's run-based drawing and its knowledge of which pixels a whole-row fill must
// touch, against a plain model of the same rules that lights one pixel at a time: random
// lines, wide lines, text, fills and copies, clipped and unclipped, in every raster
// operation, each compared pixel for pixel after every call.
#include "editor/platform/linux/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace raster = kelvatone::platform::raster;
namespace fonts = kelvatone::platform::fonts;

namespace {

constexpr int kWidth = 61;
constexpr int kHeight = 37;
// Coordinates reach this far past the edges, so that clipping is exercised.
constexpr int kMargin = 24;
constexpr int kOperationsPerSeed = 1500;
constexpr int kSeeds = 6;
constexpr int kCopyPen = 13;
constexpr int kMergePen = 15;

// The model: a pixel array drawn one pixel at a time with the rules of Raster.h.
struct Model {
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(kWidth * kHeight, 0);

    void plot(std::int64_t x, std::int64_t y, std::uint32_t pen, raster::PixelOp op) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
            return;
        std::uint32_t& p = pixels[static_cast<size_t>(y * kWidth + x)];
        p = op.apply(p, pen);
    }
    void set(std::int64_t x, std::int64_t y, std::uint32_t pixel) {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            pixels[static_cast<size_t>(y * kWidth + x)] = pixel;
    }

    void fill(int left, int top, int right, int bottom, std::uint32_t pixel) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                set(x, y, pixel);
    }

    // One pixel per step of the major axis, the minor coordinate rounded to nearest with
    // ties to the smaller value, the end point left out.
    void thinLine(int x0, int y0, int x1, int y1, std::uint32_t pen, raster::PixelOp op) {
        const std::int64_t dx = x1 - x0, dy = y1 - y0;
        const bool xMajor = std::llabs(dx) >= std::llabs(dy);
        const std::int64_t steps = xMajor ? std::llabs(dx) : std::llabs(dy);
        for (std::int64_t i = 0; i < steps; ++i) {
            const std::int64_t major = (xMajor ? dx : dy) > 0 ? i : -i;
            const std::int64_t numerator = 2 * i * std::llabs(xMajor ? dy : dx);
            // round(i |minor| / steps) with ties going down, then the sign of the minor delta.
            std::int64_t minor = (numerator + steps - 1) / (2 * steps);
            if ((xMajor ? dy : dx) < 0)
                minor = -((numerator + steps) / (2 * steps));
            if (xMajor)
                plot(x0 + major, y0 + minor, pen, op);
            else
                plot(x0 + minor, y0 + major, pen, op);
        }
    }

    // Every pixel whose centre lies within width / 2 of the closed segment.
    void wideLine(int x0, int y0, int x1, int y1, int width, std::uint32_t pen,
                  raster::PixelOp op) {
        const std::int64_t dx = x1 - x0, dy = y1 - y0, length2 = dx * dx + dy * dy;
        for (int y = -kMargin * 2; y < kHeight + kMargin * 2; ++y) {
            for (int x = -kMargin * 2; x < kWidth + kMargin * 2; ++x) {
                const std::int64_t px = x - x0, py = y - y0, along = px * dx + py * dy;
                bool lit;
                if (along <= 0 || length2 == 0)
                    lit = 4 * (px * px + py * py) <= width * width;
                else if (along >= length2)
                    lit = 4 * ((x - x1) * (x - x1) + (y - y1) * (y - y1)) <= width * width;
                else
                    lit = 4 * (px * dy - py * dx) * (px * dy - py * dx) <=
                          std::int64_t{width} * width * length2;
                if (lit)
                    plot(x, y, pen, op);
            }
        }
    }

    void text(const fonts::FixedFace& face, int x, int y, const char* text, int length,
              std::uint32_t foreground, bool opaque, std::uint32_t background) {
        for (int k = 0; k < length; ++k) {
            const int cellX = x + k * face.cellWidth;
            if (cellX >= kWidth)
                break;
            if (cellX + face.cellWidth <= 0)
                continue;
            if (opaque)
                fill(std::max(cellX, 0), std::max(y, 0), std::min(cellX + face.cellWidth, kWidth),
                     std::min(y + face.cellHeight, kHeight), background);
            const int code = static_cast<unsigned char>(text[k]);
            if (code < fonts::firstChar || code > fonts::lastChar)
                continue;
            const std::uint16_t* rows =
                face.glyphRows + (code - fonts::firstChar) * face.cellHeight;
            for (int row = 0; row < face.cellHeight; ++row)
                for (int column = 0; column < 16; ++column)
                    if (rows[row] >> column & 1)
                        set(cellX + column, y + row, foreground);
        }
    }
};

// A surface that keeps its row extents, as the bitmaps of the drawing layer do.
struct TrackedSurface {
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(kWidth * kHeight, 0);
    std::vector<raster::RowExtent> rows =
        std::vector<raster::RowExtent>(kHeight, raster::uniformRow(kWidth, 0));
    raster::Surface surface{kWidth, kHeight, pixels.data(), rows.data()};
};

class RandomDrawing {
public:
    explicit RandomDrawing(unsigned seed) : generator(seed) {}

    int coordinate(int size) { return uniform(-kMargin, size + kMargin); }
    // Mostly the display's colours, so that merges and fills meet equal pixels often.
    std::uint32_t colour() {
        static const std::uint32_t kColours[] = {0x000000, 0xC0C0C0, 0x808080, 0x1080FF,
                                                 0x1010FF, 0xFFFF00, 0xFFFFFF};
        if (uniform(0, 4) == 0)
            return static_cast<std::uint32_t>(uniform(0, 0xFFFFFF));
        return kColours[uniform(0, 6)];
    }
    raster::PixelOp operation() {
        const int choice = uniform(0, 5);
        return raster::PixelOp{choice < 2 ? kCopyPen : choice < 4 ? kMergePen : uniform(1, 16)};
    }
    int uniform(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(generator);
    }

private:
    std::mt19937 generator;
};

void drawOneRandomOperation(RandomDrawing& random, TrackedSurface& tracked, Model& model) {
    raster::Surface& s = tracked.surface;
    const int kind = random.uniform(0, 9);
    if (kind <= 2) {
        // Lines, often horizontal or vertical like the display's.
        const int x0 = random.coordinate(kWidth), y0 = random.coordinate(kHeight);
        int x1 = random.coordinate(kWidth), y1 = random.coordinate(kHeight);
        const int shape = random.uniform(0, 3);
        if (shape == 0)
            y1 = y0;
        else if (shape == 1)
            x1 = x0;
        const std::uint32_t pen = random.colour();
        const raster::PixelOp op = random.operation();
        if (kind == 0) {
            raster::drawThinLine(s, x0, y0, x1, y1, pen, op);
            model.thinLine(x0, y0, x1, y1, pen, op);
        } else {
            const int width = random.uniform(2, 7);
            if (kind == 2 && shape != 1) {
                // The held-note bars: two pixels to the right on one row.
                x1 = x0 + 2;
                y1 = y0;
            }
            raster::drawWideLine(s, x0, y0, x1, y1, width, pen, op);
            model.wideLine(x0, y0, x1, y1, width, pen, op);
        }
    } else if (kind <= 4) {
        // Fills: the whole surface (the display's clear), whole rows or any rectangle.
        const std::uint32_t pixel = random.uniform(0, 2) == 0 ? random.colour() : 0;
        int left = random.coordinate(kWidth), right = random.coordinate(kWidth);
        int top = random.coordinate(kHeight), bottom = random.coordinate(kHeight);
        const int shape = random.uniform(0, 2);
        if (shape == 0) {
            left = top = 0;
            right = kWidth;
            bottom = kHeight;
        } else if (shape == 1) {
            left = -random.uniform(0, 3);
            right = kWidth + random.uniform(0, 3);
        }
        raster::fillRect(s, left, top, right, bottom, pixel);
        model.fill(std::max(left, 0), std::max(top, 0), std::min(right, kWidth),
                   std::min(bottom, kHeight), pixel);
    } else if (kind <= 6) {
        const fonts::FixedFace& face = fonts::faces[random.uniform(0, std::size(fonts::faces) - 1)];
        char text[5];
        const int length = random.uniform(0, 4);
        for (int i = 0; i < length; ++i)
            text[i] = static_cast<char>(random.uniform(20, 130));
        const int x = random.coordinate(kWidth), y = random.coordinate(kHeight);
        const std::uint32_t foreground = random.colour(), background = random.colour();
        const bool opaque = random.uniform(0, 3) == 0;
        raster::drawText(s, face, x, y, text, length, foreground, opaque, background);
        model.text(face, x, y, text, length, foreground, opaque, background);
    } else {
        // A copy within the surface: rows move, and their extents with them.
        const int x = random.coordinate(kWidth), y = random.coordinate(kHeight);
        const int sx = random.coordinate(kWidth), sy = random.coordinate(kHeight);
        const int w = random.uniform(0, kWidth), h = random.uniform(0, kHeight);
        raster::copyRect(s, x, y, w, h, s, sx, sy);
        const std::vector<std::uint32_t> before = model.pixels;
        for (int row = 0; row < h; ++row)
            for (int column = 0; column < w; ++column) {
                const int fromX = sx + column, fromY = sy + row;
                if (fromX < 0 || fromY < 0 || fromX >= kWidth || fromY >= kHeight)
                    continue;
                model.set(x + column, y + row, before[static_cast<size_t>(fromY * kWidth + fromX)]);
            }
    }
}

TEST(RasterEquivalence, RunsAndRowExtentsDrawWhatThePixelModelDraws) {
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        RandomDrawing random(seed);
        TrackedSurface tracked;
        Model model;
        for (int i = 0; i < kOperationsPerSeed; ++i) {
            drawOneRandomOperation(random, tracked, model);
            ASSERT_EQ(tracked.pixels, model.pixels) << "seed " << seed << ", operation " << i;
        }
    }
}

TEST(RasterEquivalence, SurfacesWithoutRowExtentsDrawTheSame) {
    RandomDrawing random(99);
    TrackedSurface tracked;
    tracked.surface.rows = nullptr;
    Model model;
    for (int i = 0; i < kOperationsPerSeed; ++i) {
        drawOneRandomOperation(random, tracked, model);
        ASSERT_EQ(tracked.pixels, model.pixels) << "operation " << i;
    }
}

} // namespace
