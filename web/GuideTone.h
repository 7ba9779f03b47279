// A soft guide tone of the notes a part holds: one sine per held note at a low level,
// faded in and out over a few milliseconds so that notes start and stop without clicks.
// It sounds through the speakers too, so the page offers it off by default and advises
// headphones: the microphone would otherwise hear it.
//
// Threads: one thread only (the worklet's, which is the audio thread); nothing here
// allocates, locks or waits.
#pragma once

#include "analysis/PitchHistory.h"
#include "vst/MidiBytes.h"

namespace kelvatone::web {

class GuideTone {
public:
    explicit GuideTone(float sampleRate);

    void setOn(bool on) { isOn = on; }
    bool on() const { return isOn; }
    // Writes `frames` samples of the tone of `notes` (MIDI numbers, A4 = 69 at 440 Hz) to
    // `out`; silence while off.
    void render(const analysis::HeldNoteSet& notes, float* out, int frames);

private:
    const double rate;
    // Per sample, the share of the way each note's level moves to its target.
    const float fade;
    bool isOn = false;
    double phase[vst::kMidiNotes] = {}; // in cycles, 0..1
    float level[vst::kMidiNotes] = {};
};

} // namespace kelvatone::web
