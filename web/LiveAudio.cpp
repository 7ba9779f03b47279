#include "web/LiveAudio.h"

#include "editor/KelvatoneGui.h"

#include <algorithm>
#include <iterator>

using namespace kelvatone::analysis;
using namespace kelvatone::vst;

namespace kelvatone::web {

intptr_t KELVATONE_VST_CALL noHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
    return 0;
}

LiveAudio::LiveAudio(float sampleRate) : effect(noHost), part(sampleRate), guide(sampleRate) {
    effect.setBlockSize(kMaxBlock);
    effect.setSampleRate(sampleRate);
    midiEvent.type = kVstMidiType;
    midiEvent.byteSize = sizeof midiEvent;
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&midiEvent);
}

int LiveAudio::process(int frames) {
    frames = std::clamp(frames, 0, kMaxBlock);
    // Frames are counted by the results recorded: a resolution the effect applies within
    // the call clears the history and moves its index without analysing anything.
    const uint32_t before = effect.engine.resultsRecorded.load(std::memory_order_relaxed);
    // The microphone is one channel: both inputs carry it, so the mono mix is the signal.
    float* inputs[] = {inputBlock, inputBlock};
    float* outputs[] = {outputLeft, outputRight};
    part.advance(effect, frames);
    effect.processReplacing(inputs, outputs, frames);
    // The effect's output copies its input: the speakers get the guide tone instead.
    guide.render(part.held(), outputLeft, frames);
    const auto analysed =
        static_cast<int>(effect.engine.resultsRecorded.load(std::memory_order_relaxed) - before);
    if (analysed == 0)
        return 0;
    // This thread is the history's writer, between its writes: the history holds still.
    effect.engine.historyUpdates.assertNoWriteOpen();
    const int32_t next = effect.engine.historyIndex.load(std::memory_order_relaxed);
    const int last = (next + kHistoryLength - 1) % kHistoryLength;
    newest.pitch = effect.engine.historyPitch[last].load(std::memory_order_relaxed);
    const HeldNoteSet notes = effect.engine.historyNotes[last].load();
    std::copy(std::begin(notes.words), std::end(notes.words), newest.notes);
    return analysed;
}

void LiveAudio::midi(uint8_t status, uint8_t data1, uint8_t data2) {
    midiEvent.midiData[0] = static_cast<char>(status);
    midiEvent.midiData[1] = static_cast<char>(data1);
    midiEvent.midiData[2] = static_cast<char>(data2);
    effect.processEvents(&events);
}

void LiveAudio::setHold(bool held) {
    effect.display()->hold.store(held, std::memory_order_relaxed);
}

} // namespace kelvatone::web
