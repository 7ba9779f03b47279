// The audio side of the web page: one Kelvatone effect, fed with the microphone's samples
// on the browser's audio thread (the AudioWorklet), exactly as a host feeds the plug-in:
// processReplacing at the audio context's rate (the rate converter brings it to the
// analysis rate), MIDI notes through processEvents, parameters through setParameter. After
// each analysed frame the newest history column is ready for the page.
//
// Threads: construction and destruction on the worklet's thread outside `process`; every
// other call on that same thread (the worklet's process and its message handler), which
// is the audio thread: none of them allocates, locks, waits or draws.
#pragma once

#include "analysis/PitchHistory.h"
#include "plugin/Kelvatone.h"
#include "vst/AEffect.h"
#include "web/GuideTone.h"
#include "web/PartPlayer.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace kelvatone::web {

// The largest block of samples one process call takes (a render quantum is 128).
constexpr int kMaxBlock = 1024;

// One history column as the page receives it: the pitch in cents above C0 (negative: no
// pitch) and the four words of the held-note set, MIDI note m at bit m.
struct Column {
    int32_t pitch;
    uint32_t notes[4];
};
// The page reads a column as five 32-bit words.
static_assert(sizeof(Column) == 20, "a column is five 32-bit words for the page");

// The notes held in a column, as a held-note set. Any thread.
inline analysis::HeldNoteSet notesOf(const Column& column) {
    analysis::HeldNoteSet notes;
    std::copy(std::begin(column.notes), std::end(column.notes), notes.words);
    return notes;
}

// The host of the page's effects: the page answers no request (always 0). Any thread.
intptr_t KELVATONE_VST_CALL noHost(vst::AEffect* effect, int32_t opcode, int32_t index,
                                   intptr_t value, void* ptr, float opt);

class LiveAudio {
public:
    // An effect at the audio context's rate (22.05 to 384 kHz). Allocates.
    explicit LiveAudio(float sampleRate);
    LiveAudio(const LiveAudio&) = delete;
    LiveAudio& operator=(const LiveAudio&) = delete;

    // Where the page writes the next block's mono samples (kMaxBlock floats).
    float* input() { return inputBlock; }
    // The guide tone of the block process() ran last (kMaxBlock floats): for the speakers.
    const float* output() const { return outputLeft; }
    // Runs `frames` samples of input() through the effect; answers how many frames were
    // analysed meanwhile (0 or 1 for a render quantum) and leaves the newest column in
    // column().
    int process(int frames);
    const Column& column() const { return newest; }

    // A MIDI message of three bytes, as the plug-in's MIDI input takes it.
    void midi(uint8_t status, uint8_t data1, uint8_t data2);
    void setParameter(int32_t index, float value) { effect.setParameter(index, value); }
    // Freezes the analysis while set, as the display's Hold does in the plug-in.
    void setHold(bool held);

    // A MIDI part played into the effect in step with process(): its events are copied to
    // partEvents() (kMaxPartEvents), then loadPart takes `count` of them (and stops).
    PartEvent* partEvents() { return part.events(); }
    void loadPart(int count) { part.load(effect, count); }
    void playPart() { part.play(effect); }
    // Releases the notes the part holds.
    void stopPart() { part.stop(effect); }
    // A soft tone of the part's held notes in output(); off at start.
    void setGuideTone(bool on) { guide.setOn(on); }

    // Test hook: the effect itself, so that a test can keep its engine busy as a host's
    // audio thread does while a setter runs.
    plugin::Kelvatone& effectForTests() { return effect; }

private:
    plugin::Kelvatone effect;
    PartPlayer part;
    GuideTone guide;
    float inputBlock[kMaxBlock] = {};
    float outputLeft[kMaxBlock] = {};
    float outputRight[kMaxBlock] = {};
    Column newest{analysis::kNoPitch, {0, 0, 0, 0}};
    vst::VstMidiEvent midiEvent{};
    vst::VstEvents events{};
};

} // namespace kelvatone::web
