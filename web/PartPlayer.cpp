#include "web/PartPlayer.h"

#include <algorithm>
#include <cmath>

using namespace kelvatone::vst;

namespace kelvatone::web {

PartPlayer::PartPlayer(float sampleRate) : rate(sampleRate) {
    midiEvent.type = kVstMidiType;
    midiEvent.byteSize = sizeof midiEvent;
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&midiEvent);
}

void PartPlayer::load(AudioEffectX& effect, int events) {
    stop(effect);
    count = std::clamp(events, 0, kMaxPartEvents);
}

void PartPlayer::play(AudioEffectX& effect) {
    stop(effect);
    next = 0;
    position = 0;
    isPlaying = count > 0;
}

void PartPlayer::stop(AudioEffectX& effect) {
    isPlaying = false;
    for (int note = 0; note < kMidiNotes; ++note) {
        if (heldNow.contains(note))
            send(effect, kNoteOff, static_cast<uint8_t>(note), 0, 0);
    }
    heldNow = analysis::HeldNoteSet{};
}

void PartPlayer::advance(AudioEffectX& effect, int frames) {
    if (!isPlaying)
        return;
    const int64_t end = position + frames;
    for (; next < count; ++next) {
        const PartEvent& event = part[next];
        const auto frame = static_cast<int64_t>(std::llround(event.seconds * rate));
        if (frame >= end)
            break;
        const auto delta = static_cast<int32_t>(std::max<int64_t>(frame - position, 0));
        send(effect, event.status, event.note, event.velocity, delta);
    }
    position = end;
    if (next == count)
        isPlaying = false;
}

void PartPlayer::send(AudioEffectX& effect, uint8_t status, uint8_t note, uint8_t velocity,
                      int32_t deltaFrames) {
    if (note >= kMidiNotes)
        return;
    const uint8_t kind = status & kStatusMask;
    if (kind == kNoteOn && velocity != 0)
        heldNow.add(note);
    else if (kind == kNoteOn || kind == kNoteOff)
        heldNow.remove(note);
    midiEvent.deltaFrames = deltaFrames;
    midiEvent.midiData[0] = static_cast<char>(status);
    midiEvent.midiData[1] = static_cast<char>(note);
    midiEvent.midiData[2] = static_cast<char>(velocity);
    effect.processEvents(&list);
}

} // namespace kelvatone::web
