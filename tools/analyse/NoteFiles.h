// The sung notes as a file: a Standard MIDI File that plays back in any DAW, or CSV rows
// of onset, offset, MIDI note, name and median deviation. One thread.
#pragma once

#include "report/NoteSegmenter.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kelvatone::analyse {

enum class NotesFormat { midi, csv };

// The format a file name asks for: ".mid"/".midi" for MIDI, ".csv" for CSV (any case);
// false for any other name.
bool notesFormatOf(const std::string& path, NotesFormat& format);

// Writes the notes in the format; the caller checks the stream for errors.
void writeNotes(std::FILE* out, NotesFormat format, const std::vector<report::SungNote>& notes);

} // namespace kelvatone::analyse
