// Note names shared by the parameter texts, the display and the analysis tool.
#pragma once

#include "analysis/AnalysisEngine.h"

#include <atomic>
#include <cstdint>

namespace kelvatone::analysis {

// Added to the octave of every note label in the process: 0 at load, -1 when "440Hz=" names
// 440 Hz A3. Written by the "440Hz=" parameter on any thread, read by every label in every
// instance; the setter releases it, displays that redraw on a change acquire it.
extern std::atomic<int32_t> octaveLabelOffset;

// Label of a NoteNumber as the parameters show it: the natural letter of its pitch class
// (sharps dropped) and the octave n div 12 + octaveOffset, "C1", "A4", "C-1". Writes a
// zero-terminated text of at most 7 characters into out (8 bytes suffice; octaves are held
// within -9999..99999, far beyond any note a setting reaches) and returns its
// length. any thread
int noteLabel(NoteNumber n, int32_t octaveOffset, char* out);

// Label of a pitch as the display names its current note: the nearest note's two-character
// name ("C ", "C#", "D ", ...) and its octave, "A 4", "C#4", "C -1". Same buffer rule and
// result as noteLabel. any thread
int pitchNoteLabel(PitchCents cents, int32_t octaveOffset, char* out);

// Reads a natural or sharp label with octave offset 0 ("C1", "A4", "F#3"): a letter A..G, an
// optional '#' (C#, D#, F#, G#, A#), one octave digit and nothing more. any thread
bool parseNoteLabel(const char* text, NoteNumber& n);

} // namespace kelvatone::analysis
