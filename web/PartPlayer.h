// A MIDI part played into an effect in step with the samples it processes: before each
// block, the note-ons and note-offs whose time falls in that block reach the effect through
// processEvents, as a host delivers a track's notes, so the held notes go into the history
// with the frames exactly as through the plug-in's MIDI input.
//
// Threads: one thread only (the worklet's, which is the audio thread). Nothing here
// allocates, locks or waits: the part's room is a member, reserved with the player.
#pragma once

#include "analysis/PitchHistory.h"
#include "vst/AEffect.h"
#include "vst/AudioEffectX.h"
#include "vst/MidiBytes.h"

#include <cstdint>

namespace kelvatone::web {

// One note-on or note-off of a part; seconds from the part's start.
struct PartEvent {
    double seconds;
    uint8_t status; // 0x8n or 0x9n
    uint8_t note;
    uint8_t velocity;
    uint8_t unused[5];
};
// The page copies a part as bytes from one instance of the module to the other.
static_assert(sizeof(PartEvent) == 16, "the page copies parts as 16-byte records");

// The most events a part holds (an hour of dense playing).
constexpr int kMaxPartEvents = 1 << 16;

class PartPlayer {
public:
    explicit PartPlayer(float sampleRate);
    PartPlayer(const PartPlayer&) = delete;
    PartPlayer& operator=(const PartPlayer&) = delete;

    // Where a part's events are copied (kMaxPartEvents, in time order) before load().
    PartEvent* events() { return part; }
    // Stops (releasing the part's notes) and takes the first `count` events of events().
    void load(vst::AudioEffectX& effect, int count);
    // Plays the part from its start.
    void play(vst::AudioEffectX& effect);
    // Stops and releases the notes the part holds.
    void stop(vst::AudioEffectX& effect);
    bool playing() const { return isPlaying; }
    // The notes the part holds now.
    const analysis::HeldNoteSet& held() const { return heldNow; }

    // Before a block of `frames` samples: the events due in it reach the effect. The player
    // stops by itself once the part's last event is delivered.
    void advance(vst::AudioEffectX& effect, int frames);

private:
    void send(vst::AudioEffectX& effect, uint8_t status, uint8_t note, uint8_t velocity,
              int32_t deltaFrames);

    const double rate;
    PartEvent part[kMaxPartEvents] = {};
    int count = 0;
    int next = 0;
    int64_t position = 0; // frames since play()
    bool isPlaying = false;
    analysis::HeldNoteSet heldNow;
    vst::VstMidiEvent midiEvent{};
    vst::VstEvents list{};
};

} // namespace kelvatone::web
