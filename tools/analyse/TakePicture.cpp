#include "tools/analyse/TakePicture.h"

#include <cstdint>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;

namespace kelvatone::analyse {

namespace {

constexpr int kRgbComponents = 3;

} // namespace

TakePicture::TakePicture() : view(initialView(snapshot.displayRange)) {
    image.width = kWidth;
}

void TakePicture::addFrame(PitchCents pitch, const HeldNoteSet& held) {
    // What the plug-in does for one frame: the history column, the display's scroll step.
    history.historyUpdates.beginWrite();
    history.append(pitch, held);
    history.historyUpdates.endWrite();
    view = scrolledView(view, pitch, pictureSpan(snapshot.displayRange));
    if (++frames % kPageFrames == 0)
        keepPage();
}

void TakePicture::keepPage() {
    // This picture appends to its history itself, on this thread.
    history.historyUpdates.assertNoWriteOpen();
    copyShownHistory(history, snapshot);
    snapshot.viewBase = view.base;
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
    surface.draw(renderer, snapshot, pixels.data());
    image.height += kHeight;
    image.rgb.reserve(static_cast<size_t>(image.width) * image.height * kRgbComponents);
    // The layer's pixels are 0x00RRGGBB.
    for (uint32_t pixel : pixels) {
        image.rgb.push_back(static_cast<uint8_t>(pixel >> 16));
        image.rgb.push_back(static_cast<uint8_t>(pixel >> 8));
        image.rgb.push_back(static_cast<uint8_t>(pixel));
    }
}

kelvatone::io::Image TakePicture::finish() {
    while (frames == 0 || frames % kPageFrames != 0)
        addFrame(kNoPitch, HeldNoteSet{});
    return image;
}

} // namespace kelvatone::analyse
