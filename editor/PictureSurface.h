// A 640 x 360 off-screen picture of the display, for readers that draw it without a window:
// the analysis tool's pages, the web page's canvas and the tests. A memory device context
// with a bitmap compatible with the screen, made once.
//
// Threads: one thread at a time (the one that draws); not the audio thread (allocates at
// construction).
#pragma once

#include "editor/DisplayRenderer.h"

#include <cstdint>

namespace kelvatone::editor {

class PictureSurface {
public:
    // Creates the device context and its 640 x 360 bitmap.
    PictureSurface();
    ~PictureSurface();
    PictureSurface(const PictureSurface&) = delete;
    PictureSurface& operator=(const PictureSurface&) = delete;

    // Draws the snapshot with the renderer and copies the picture into pixels: kWidth x
    // kHeight values 0x00RRGGBB, rows top to bottom.
    void draw(const Renderer& renderer, const Snapshot& snapshot, uint32_t* pixels) const;
    // Copies the picture as it stands into pixels (kWidth x kHeight, as draw does).
    void readPixels(uint32_t* pixels) const;
    HDC dc() const { return surfaceDc; }
    HBITMAP surfaceBitmap() const { return bitmap; }

private:
    HDC surfaceDc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
};

} // namespace kelvatone::editor
