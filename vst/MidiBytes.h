// The MIDI channel messages a VstMidiEvent carries in midiData[0..2]: the status byte's
// kinds (its high nibble; the low nibble is the channel), the channel-mode controllers
// after which no note sounds, and how many notes and channels there are.
#pragma once

#include <cstdint>

namespace kelvatone::vst {

constexpr uint8_t kStatusMask = 0xF0;
constexpr uint8_t kChannelMask = 0x0F;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kPitchBend = 0xE0;
// Controller numbers: all sound off, all notes off.
constexpr uint8_t kAllSoundOff = 120;
constexpr uint8_t kAllNotesOff = 123;
constexpr int kMidiNotes = 128;
constexpr int kMidiChannels = 16;

} // namespace kelvatone::vst
