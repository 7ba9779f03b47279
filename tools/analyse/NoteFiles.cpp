#include "tools/analyse/NoteFiles.h"

#include "report/TakeNotes.h"
#include "tools/demo/DemoTake.h"

#include <algorithm>
#include <cctype>

using namespace kelvatone::demo;
using namespace kelvatone::report;

namespace kelvatone::analyse {

namespace {

bool endsWith(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size())
        return false;
    return std::equal(ending.rbegin(), ending.rend(), text.rbegin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
    });
}

void writeCsv(std::FILE* out, const std::vector<SungNote>& notes) {
    std::fputs("onset_s,offset_s,midi_note,note,median_deviation_cents\n", out);
    for (const SungNote& note : notes)
        std::fprintf(out, "%.6f,%.6f,%d,%s,%.1f\n", note.onsetSeconds, note.offsetSeconds,
                     note.midiNote, midiNoteName(note.midiNote).c_str(), note.medianDeviationCents);
}

void writeMidi(std::FILE* out, const std::vector<SungNote>& notes) {
    std::vector<Note> part;
    part.reserve(notes.size());
    for (const SungNote& note : notes)
        part.push_back(
            {note.midiNote, note.onsetSeconds, note.offsetSeconds, note.medianDeviationCents});
    const std::vector<uint8_t> bytes = midiFileOf(part);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
}

} // namespace

bool notesFormatOf(const std::string& path, NotesFormat& format) {
    if (endsWith(path, ".mid") || endsWith(path, ".midi"))
        format = NotesFormat::midi;
    else if (endsWith(path, ".csv"))
        format = NotesFormat::csv;
    else
        return false;
    return true;
}

void writeNotes(std::FILE* out, NotesFormat format, const std::vector<SungNote>& notes) {
    if (format == NotesFormat::midi)
        writeMidi(out, notes);
    else
        writeCsv(out, notes);
}

} // namespace kelvatone::analyse
