// The demo take and its MIDI part repeated back to back for as long as a benchmark needs.
#pragma once

#include "io/MidiFile.h"

#include <vector>

namespace kelvatone::bench {

// The mono take at the demo's sample rate, repeated and cut to `seconds`.
std::vector<float> loopedTake(double seconds);

// The part's note-ons (velocity 100) and note-offs, repeated with the take, in time order,
// those before `seconds` only. A note-off comes before a note-on of the same instant.
std::vector<kelvatone::io::MidiNoteEvent> loopedPart(double seconds);

} // namespace kelvatone::bench
