#include "editor/PictureSurface.h"

namespace kelvatone::editor {

namespace {

constexpr int kBytesPerPixel = 4;

} // namespace

PictureSurface::PictureSurface() {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    previousBitmap = SelectObject(dc, bitmap);
}

PictureSurface::~PictureSurface() {
    SelectObject(dc, previousBitmap);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

void PictureSurface::draw(const Renderer& renderer, const Snapshot& snapshot,
                          uint32_t* pixels) const {
    renderer.draw(dc, snapshot);
    GetBitmapBits(bitmap, static_cast<LONG>(kWidth * kHeight * kBytesPerPixel), pixels);
}

} // namespace kelvatone::editor
