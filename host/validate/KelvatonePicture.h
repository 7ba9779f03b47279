// What the validator reads from the picture of our own module's editor, to check
// effects that reach no host-visible answer: that the analysis finds pitches (the
// yellow trace), which MIDI notes it holds (the blue bars) and the note it names
// (the label at the top). Other modules have no such picture; tests check these
// facts only where isKelvatone() holds.
#pragma once

#include <cstdint>
#include <vector>

#include "io/Image.h"
#include "vst/AEffect.h"

namespace kelvatone::host::validate {

// How many frames of clean input at `rate` leave nothing of earlier input in the
// frames of the last `hops` analyses at the default resolution: one frame length (the
// smallest power of two above rate / 15) and `hops` hops of rate / 30. Any thread.
int64_t framesForCleanAnalyses(double rate, int hops);
// The MIDI note whose bar the initial view shows (C4, in the middle of the picture).
constexpr int kKelvatoneVisibleNote = 60;
// Our module's parameter indices the validator sets, and the texts they give.
constexpr int32_t kKelvatoneReferencePitch = 1;
constexpr int32_t kKelvatoneAnalysisBegin = 3;

// Any thread.
bool isKelvatone(const vst::AEffect* effect);

struct PictureFacts {
    // Of the newest columns looked at: how many show the trace, how many a held-note bar.
    int tracedColumns = 0;
    int barColumns = 0;
    // The label of the current note: which pixels of its area are white.
    std::vector<bool> noteLabel;
    bool hasNoteLabel() const;
};

// Reads the facts from a 640 x 360 picture of our editor, looking at the newest
// `columns` history columns. A picture of another size gives no facts.
PictureFacts readPicture(const io::Image& image, int columns);

} // namespace kelvatone::host::validate
