#include "tools/analyse/TakePicture.h"

#include <cstdint>
#include <vector>

namespace {

constexpr int kWidth = KelvatoneGui::kWidth;
constexpr int kHeight = KelvatoneGui::kHeight;
constexpr int kRgbComponents = 3;
constexpr int kBytesPerPixel = 4;
// The display engine only carries the history; any rate the engine accepts will do.
constexpr double kDisplayEngineRate = 44100.0;

} // namespace

TakePicture::DisplayEffect::DisplayEffect() : AudioEffectX(nullptr, 1, 0) {
    // In the plug-in's order: the editor first, then the engine's buffers.
    new KelvatoneGui(this, &engine);
    engine.configure(kDisplayEngineRate);
}

TakePicture::TakePicture() {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    previousBitmap = SelectObject(dc, bitmap);
    image.width = kWidth;
}

TakePicture::~TakePicture() {
    SelectObject(dc, previousBitmap);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

void TakePicture::addFrame(PitchCents pitch, const HeldNoteSet& held) {
    // What the intake and analyseFrame leave in the history for one frame.
    AnalysisEngine& engine = effect.engine;
    const int32_t column = engine.historyIndex.load();
    engine.historyNotes[column].store(held);
    engine.historyPitch[column].store(pitch);
    engine.currentPitch.store(pitch);
    engine.historyIndex.store((column + 1) % kHistoryLength);

    effect.gui().renderPicture(dc);
    if (++frames % kPageFrames == 0)
        keepPage();
}

void TakePicture::keepPage() {
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
    GetBitmapBits(bitmap, static_cast<LONG>(pixels.size() * kBytesPerPixel), pixels.data());
    image.height += kHeight;
    image.rgb.reserve(static_cast<size_t>(image.width) * image.height * kRgbComponents);
    // The layer's pixels are 0x00RRGGBB.
    for (uint32_t pixel : pixels) {
        image.rgb.push_back(static_cast<uint8_t>(pixel >> 16));
        image.rgb.push_back(static_cast<uint8_t>(pixel >> 8));
        image.rgb.push_back(static_cast<uint8_t>(pixel));
    }
}

kelvatone::host::Image TakePicture::finish() {
    while (frames == 0 || frames % kPageFrames != 0)
        addFrame(kNoPitch, HeldNoteSet{});
    return image;
}
