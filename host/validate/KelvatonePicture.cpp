#include "host/validate/KelvatonePicture.h"

#include <algorithm>

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

constexpr int32_t kKelvatoneUniqueID = 0x71723238; // 'qr28'
// The default resolution: a frame of rate / 15 samples or more; 30 analyses a second.
constexpr double kDefaultResolution = 15.0;
constexpr double kAnalysesPerSecond = 30.0;
constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 360;
// History columns on screen: the oldest at x = 20, 2 pixels apart, 310 of them.
constexpr int kShownColumns = 310;
constexpr int kFirstColumnX = 20;
constexpr int kColumnPitch = 2;
// The current note's label: drawn from (300, 2) in 20-pixel bold.
constexpr int kLabelLeft = 296;
constexpr int kLabelRight = 380;
constexpr int kLabelTop = 0;
constexpr int kLabelBottom = 28;

struct Rgb {
    uint8_t red, green, blue;
};

Rgb pixelAt(const io::Image& image, int x, int y) {
    const size_t at =
        (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 3;
    return {image.rgb[at], image.rgb[at + 1], image.rgb[at + 2]};
}

bool isTrace(Rgb pixel) {
    return pixel.red == 0xFF && pixel.green == 0xFF && pixel.blue == 0x00;
}

// The two pens of held-note bars: within 50 cents of the pitch, and not.
bool isBar(Rgb pixel) {
    return pixel.red == 0x10 && pixel.blue == 0xFF && (pixel.green == 0x80 || pixel.green == 0x10);
}

bool isWhite(Rgb pixel) {
    return pixel.red == 0xFF && pixel.green == 0xFF && pixel.blue == 0xFF;
}

template <typename Predicate> bool columnHas(const io::Image& image, int x, Predicate predicate) {
    for (int y = 0; y < image.height; ++y) {
        if (predicate(pixelAt(image, x, y))) {
            return true;
        }
    }
    return false;
}

} // namespace

bool isKelvatone(const AEffect* effect) {
    return effect != nullptr && effect->uniqueID == kKelvatoneUniqueID;
}

bool PictureFacts::hasNoteLabel() const {
    return std::find(noteLabel.begin(), noteLabel.end(), true) != noteLabel.end();
}

int64_t framesForCleanAnalyses(double rate, int hops) {
    int64_t frame = 1;
    while (static_cast<double>(frame) <= rate / kDefaultResolution) {
        frame *= 2;
    }
    return frame + hops * (static_cast<int64_t>(rate / kAnalysesPerSecond) + 1);
}

PictureFacts readPicture(const io::Image& image, int columns) {
    PictureFacts facts;
    if (image.width != kPictureWidth || image.height != kPictureHeight ||
        image.rgb.size() != static_cast<size_t>(kPictureWidth * kPictureHeight * 3)) {
        return facts;
    }
    const int first = kShownColumns - std::clamp(columns, 0, kShownColumns);
    for (int column = first; column < kShownColumns; ++column) {
        const int x = kFirstColumnX + kColumnPitch * column;
        facts.tracedColumns += columnHas(image, x, isTrace) ? 1 : 0;
        facts.barColumns += columnHas(image, x, isBar) ? 1 : 0;
    }
    for (int y = kLabelTop; y < kLabelBottom; ++y) {
        for (int x = kLabelLeft; x < kLabelRight; ++x) {
            facts.noteLabel.push_back(isWhite(pixelAt(image, x, y)));
        }
    }
    return facts;
}

} // namespace kelvatone::host::validate
