// The whole take as the display draws it, without a window: the display's renderer on a
// memory device context of the Linux drawing layer, fed one analysed frame at a time as the
// plug-in feeds it (the history appended and the view scrolled as the display does), and
// the pictures of consecutive 310-frame pages stacked top to bottom into one image.
#pragma once

#include "analysis/PitchHistory.h"
#include "editor/DisplayRenderer.h"
#include "editor/PictureSurface.h"
#include "io/Image.h"

namespace kelvatone::analyse {

class TakePicture {
public:
    // A page shows as many frames as the display shows columns: page k holds frames
    // 310k .. 310k + 309, the oldest at the left edge.
    static constexpr int kPageFrames = editor::kShownColumns;

    TakePicture();
    TakePicture(const TakePicture&) = delete;
    TakePicture& operator=(const TakePicture&) = delete;

    // One analysed frame: its pitch (kNoPitch when none) and the notes held at it. The
    // display draws its picture after every frame, so the view scrolls after the pitch
    // exactly as it does in the plug-in; the picture after a page's last frame is kept.
    void addFrame(analysis::PitchCents pitch, const analysis::HeldNoteSet& held);

    // Completes the last page with empty frames (no pitch, no note held: the take has ended)
    // and answers all pages, 640 pixels wide and 360 x pages high; one empty page when no
    // frame was added.
    kelvatone::io::Image finish();

private:
    void keepPage();

    // The history the pages show, appended to as the plug-in appends to its engine's.
    analysis::PitchHistory history;
    editor::Renderer renderer;
    editor::Snapshot snapshot;
    editor::View view;
    editor::PictureSurface surface;
    long frames = 0;
    kelvatone::io::Image image;
};

} // namespace kelvatone::analyse
