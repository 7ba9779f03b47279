// The built-in demo take: a 12-second sung-like melody (a harmonic tone with vibrato
// that glides between a few notes, with a rest, and one note sung a little flat)
// and the MIDI part of the notes that were meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvatone::demo {

constexpr int kSampleRate = 44100;
constexpr double kDurationSeconds = 12.0;

// One note of the melody: MIDI note number, start and end in seconds, and how many
// cents the "singer" is off the note while holding it.
struct Note {
    int midiNote;
    double start;
    double end;
    double detuneCents;
};

// The melody, in time order, with rests between some notes.
const std::vector<Note>& melody();

// The mono take at sampleRate (Hz, positive), kDurationSeconds long, samples in -1..1: the
// same melody at any rate, for checking that every rate reads alike.
std::vector<float> renderTake(int sampleRate = kSampleRate);

// The MIDI part as a Standard MIDI File (format 0, one track): a note-on at each
// note's start and a note-off at its end.
std::vector<uint8_t> midiPart();

// A Standard MIDI File of any notes, as midiPart writes the melody's; a note whose end
// is negative gets no note-off.
std::vector<uint8_t> midiFileOf(const std::vector<Note>& notes);

} // namespace kelvatone::demo
