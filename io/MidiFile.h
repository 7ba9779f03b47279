// A reader for Standard MIDI Files (format 0 and 1, any PPQ or SMPTE timing, running
// status, tempo changes). It takes untrusted bytes: every read is bounds-checked and
// malformed or truncated files are rejected with a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvatone::io {

// The kinds of a note event's status byte (its channel in the low four bits), and the mask
// that keeps the kind.
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kStatusMask = 0xF0;

// A note-on or note-off with its time from the start of the file.
struct MidiNoteEvent {
    double seconds = 0.0; // from the start of the file, through the tempo map
    uint8_t status = 0;   // kNoteOff or kNoteOn, with the channel
    uint8_t note = 0;     // 0..127
    uint8_t velocity = 0; // 0..127
};

struct MidiFileContents {
    int format = 0;
    int trackCount = 0;
    // Raw division word of the header: ticks per quarter note, or SMPTE timing when
    // the top bit is set.
    uint16_t division = 0;
    // All tracks merged, in time order; simultaneous events keep file order.
    std::vector<MidiNoteEvent> notes;
};

// Any thread. False with a one-line reason in `error` for anything that is not a
// well-formed format 0 or 1 file. Reads `size` bytes at `data` and keeps no pointer.
bool parseMidiFile(const uint8_t* data, size_t size, MidiFileContents& contents,
                   std::string& error);
// Any thread. The file at `path`, parsed; false with "PATH: reason" when it cannot be
// read or parsed.
bool readMidiFile(const std::string& path, MidiFileContents& contents, std::string& error);

// Any thread. A Standard MIDI File (format 0, one track, 480 ticks per quarter note at 120
// beats per minute) of the events, each at its time rounded to the nearest tick (a time
// before the start at the start); events at the same tick keep their order, a note-off
// before a note-on, so that a repeated note is not cut.
std::vector<uint8_t> encodeMidiFile(const std::vector<MidiNoteEvent>& events);

} // namespace kelvatone::io
