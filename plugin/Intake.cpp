// Audio and MIDI intake: audio passes through unchanged, its mono mix feeds the
// engine, and note-on / note-off events keep the set of held notes.
#include "plugin/Kelvatone.h"

#include "analysis/ThreadRole.h"
#include "editor/KelvatoneGui.h"
#include "vst/MidiBytes.h"

#include <cstring>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::vst;

namespace kelvatone::plugin {

namespace {

constexpr char kMidiEventName[] = "receiveVstMidiEvent";

// Hosts stop the transport with all-notes-off or all-sound-off instead of a note-off for
// every held note. The set does not tell channels apart, so either one, on any channel,
// releases every note.
bool releasesAllNotes(uint8_t status, uint8_t controller) {
    return status == kControlChange && (controller == kAllSoundOff || controller == kAllNotesOff);
}

void copyThrough(float** inputs, float** outputs, int32_t sampleFrames) {
    for (int channel = 0; channel < 2; ++channel) {
        if (inputs[channel] != outputs[channel])
            std::memcpy(outputs[channel], inputs[channel], sizeof(float) * sampleFrames);
    }
}

} // namespace

void Kelvatone::processReplacing(float** inputs, float** outputs, int32_t sampleFrames) {
    if (sampleFrames <= 0)
        return;
    const threadrole::AudioCallbackScope audioThread;
    // A rebuild of the engine on a setting thread holds the engine for a moment: the
    // audio still passes through, unanalysed.
    if (!engine.guard.tryLock()) {
        copyThrough(inputs, outputs, sampleFrames);
        return;
    }
    applyPendingResolution();
    const float* inLeft = inputs[0];
    const float* inRight = inputs[1];
    float* outLeft = outputs[0];
    float* outRight = outputs[1];
    // A frame is analysed when one is due and the display is not held.
    auto frameDue = [this](int64_t) {
        // Called back by the feed within this call: the role and the guard are still held.
        threadrole::audioThread.assertHeld();
        engine.guard.assertHeld();
        if (!gui->hold.load(std::memory_order_relaxed))
            analyseAndPublishFrame();
    };
    for (int32_t i = 0; i < sampleFrames; ++i) {
        const float left = inLeft[i];
        const float right = inRight[i];
        outLeft[i] = left;
        outRight[i] = right;
        feed.pushStereo(left, right, frameDue);
    }
    applyPendingResolution();
    engine.guard.unlock();
    // A change that came after the check above, from a setter that found the guard held.
    tryApplyPendingResolution();
}

void Kelvatone::analyseAndPublishFrame() {
    const PitchCents pitch = engine.measureFrame();
    // The display copies the history, the result and its view as one whole: the frame's
    // column and the scroll step it causes are published together.
    engine.historyUpdates.beginWrite();
    engine.append(pitch, heldNotes);
    gui->frameAnalysed(pitch);
    engine.historyUpdates.endWrite();
}

int32_t Kelvatone::processEvents(VstEvents* events) {
    if (events == nullptr)
        return 1;
    const threadrole::AudioCallbackScope audioThread;
    // The host allocates numEvents pointers from `events` on, past the two the record
    // declares: index them through a pointer, not the declared array.
    VstEvent* const* const list = events->events;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr || event->type != kVstMidiType)
            continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const uint8_t status = static_cast<uint8_t>(midi->midiData[0]) & kStatusMask;
        const uint8_t note = static_cast<uint8_t>(midi->midiData[1]);
        const uint8_t velocity = static_cast<uint8_t>(midi->midiData[2]);
        if (releasesAllNotes(status, note)) {
            heldNotes = HeldNoteSet{};
            continue;
        }
        // Not a MIDI data byte: there is no such note to hold.
        if (note >= kMidiNotes)
            continue;
        if (status == kNoteOn && velocity != 0)
            heldNotes.add(note);
        else if (status == kNoteOn || status == kNoteOff)
            heldNotes.remove(note);
    }
    return 1;
}

int32_t Kelvatone::canDo(const char* text) {
    return text != nullptr && std::strcmp(text, kMidiEventName) == 0 ? 1 : 0;
}

} // namespace kelvatone::plugin
