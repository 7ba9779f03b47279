#include "editor/PictureSurface.h"

namespace kelvatone::editor {

namespace {

constexpr int kBytesPerPixel = 4;

} // namespace

PictureSurface::PictureSurface() {
    HDC screen = GetDC(nullptr);
    surfaceDc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    previousBitmap = SelectObject(surfaceDc, bitmap);
}

PictureSurface::~PictureSurface() {
    SelectObject(surfaceDc, previousBitmap);
    DeleteDC(surfaceDc);
    DeleteObject(bitmap);
}

void PictureSurface::draw(const Renderer& renderer, const Snapshot& snapshot,
                          uint32_t* pixels) const {
    renderer.draw(surfaceDc, snapshot);
    readPixels(pixels);
}

void PictureSurface::readPixels(uint32_t* pixels) const {
    GetBitmapBits(bitmap, static_cast<LONG>(kWidth * kHeight * kBytesPerPixel), pixels);
}

} // namespace kelvatone::editor
