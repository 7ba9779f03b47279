// The host's Standard MIDI File reader with arbitrary bytes. A file is either
// rejected with a reason or gives notes the host can schedule: note-on or note-off
// statuses, 7-bit data bytes, finite non-negative times in order.
#include "io/MidiFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

using kelvatone::fuzz::require;
using kelvatone::io::MidiFileContents;

constexpr uint8_t kStatusMask = 0xF0;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kHighestDataByte = 127;

void checkContents(const MidiFileContents& contents) {
    require(contents.format == 0 || contents.format == 1, "a format other than 0 or 1 accepted");
    require(contents.format != 0 || contents.trackCount == 1, "format 0 with several tracks");
    double previous = 0.0;
    for (const auto& note : contents.notes) {
        const uint8_t status = note.status & kStatusMask;
        require(status == kNoteOn || status == kNoteOff, "a note event that is not on or off");
        require(note.note <= kHighestDataByte && note.velocity <= kHighestDataByte,
                "a note or velocity above 127");
        require(std::isfinite(note.seconds) && note.seconds >= previous,
                "note times not finite, negative or out of order");
        previous = note.seconds;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MidiFileContents contents;
    std::string error;
    if (kelvatone::io::parseMidiFile(data, size, contents, error))
        checkContents(contents);
    else
        kelvatone::fuzz::requireOneLineReason(error);
    return 0;
}
