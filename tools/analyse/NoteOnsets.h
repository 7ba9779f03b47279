// Onsets of segmented notes refined on the take's audio. The pitch track places an onset
// only to within a frame (1/30 s) and late where the note before it dies away slowly; the
// level of the note's own pitch (its fundamental and first harmonics), measured on a short
// hop, shows where it began: the last rise through a share of its level in the note.
//
// Units: seconds from the start of the take; samples are mono values at sampleRate Hz (the
// file's own rate).
// Pure function; any thread.
#pragma once

#include "tools/analyse/NoteSegmenter.h"

#include <vector>

// Moves each note's onset to where its pitch's level rose (when that rise lies near the
// onset the pitch track gave), keeping notes in time order and never overlapping: a note's
// offset is at most the next note's onset. Notes whose level shows no rise keep their onset.
void refineOnsets(std::vector<SungNote>& notes, const std::vector<float>& samples,
                  double sampleRate);

// The level of a pitch around a time: the power of the Hann-windowed samples at the
// frequency and its first harmonics, over a window of windowSeconds centred on the time
// (samples outside the take count as silence). Unscaled; for comparisons only.
double pitchLevel(const std::vector<float>& samples, double sampleRate, double frequency,
                  double centreSeconds, double windowSeconds);
