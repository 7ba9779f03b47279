#include "tools/analyse/NoteFiles.h"

#include "tools/analyse/TakeNotes.h"
#include "tools/demo/DemoTake.h"

#include <algorithm>
#include <cctype>

using namespace kelvatone::demo;

namespace kelvatone::analyse {

namespace {

constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kVelocity = 96;

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

kelvatone::io::MidiFileContents partOf(const std::vector<SungNote>& notes) {
    kelvatone::io::MidiFileContents part;
    for (const SungNote& note : notes) {
        const auto midi = static_cast<uint8_t>(note.midiNote);
        part.notes.push_back({note.onsetSeconds, kNoteOn, midi, kVelocity});
        part.notes.push_back({note.offsetSeconds, kNoteOff, midi, 0});
    }
    // In time order, a note-off before a note-on at the same time.
    std::stable_sort(part.notes.begin(), part.notes.end(), [](const auto& a, const auto& b) {
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.status < b.status;
    });
    return part;
}

} // namespace kelvatone::analyse
