#include "tools/demo/DemoTake.h"

#include "io/MidiFile.h"

#include <algorithm>
#include <cmath>

namespace kelvatone::demo {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kGlideSeconds = 0.12;
constexpr double kVibratoHz = 5.5;
constexpr double kVibratoCents = 25.0;
constexpr double kAttackSeconds = 0.04;
constexpr double kReleaseSeconds = 0.06;
constexpr double kLevel = 0.35;
constexpr int kHarmonics = 6;
// The fundamental is weaker than the second harmonic, as in many voices.
constexpr double kHarmonicLevels[kHarmonics] = {0.6, 1.0, 0.5, 0.35, 0.2, 0.1};

constexpr uint8_t kVelocity = 96;

double midiFrequency(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// The sung pitch at time t (as a fractional MIDI note) and its loudness 0..1.
struct Voice {
    double note = 0.0;
    double gain = 0.0;
};

Voice voiceAt(double t) {
    const std::vector<Note>& notes = melody();
    for (size_t i = 0; i < notes.size(); ++i) {
        const Note& n = notes[i];
        if (t < n.start || t >= n.end)
            continue;
        Voice v;
        v.note = n.midiNote + n.detuneCents / 100.0;
        const bool joinedToPrevious = i > 0 && notes[i - 1].end == n.start;
        if (joinedToPrevious && t < n.start + kGlideSeconds) {
            const Note& p = notes[i - 1];
            const double from = p.midiNote + p.detuneCents / 100.0;
            const double share = (t - n.start) / kGlideSeconds;
            v.note = from + (v.note - from) * share;
        }
        v.note += kVibratoCents / 100.0 * std::sin(kTwoPi * kVibratoHz * t);
        const bool joinedToNext = i + 1 < notes.size() && notes[i + 1].start == n.end;
        v.gain = 1.0;
        if (!joinedToPrevious && t < n.start + kAttackSeconds)
            v.gain = (t - n.start) / kAttackSeconds;
        if (!joinedToNext && t > n.end - kReleaseSeconds)
            v.gain = (n.end - t) / kReleaseSeconds;
        return v;
    }
    return {};
}

} // namespace

const std::vector<Note>& melody() {
    static const std::vector<Note> notes = {
        {60, 0.5, 2.0, 0.0},   // C4
        {64, 2.0, 3.5, 5.0},   // E4, glided into
        {67, 3.5, 5.0, -35.0}, // G4, sung flat
        {69, 6.0, 8.0, 0.0},   // A4 after a rest
        {67, 8.0, 9.5, 0.0},   // G4
        {64, 9.5, 11.5, -10.0} // E4
    };
    return notes;
}

std::vector<float> renderTake(int sampleRate) {
    const size_t frames = static_cast<size_t>(kDurationSeconds * sampleRate);
    std::vector<float> take(frames);
    double phase = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const Voice v = voiceAt(t);
        double sample = 0.0;
        for (int k = 0; k < kHarmonics; ++k)
            sample += kHarmonicLevels[k] * std::sin((k + 1) * phase);
        take[i] = static_cast<float>(kLevel * v.gain * sample / 2.0);
        if (v.gain > 0.0)
            phase = std::fmod(phase + kTwoPi * midiFrequency(v.note) / sampleRate, kTwoPi);
        else
            phase = 0.0;
    }
    return take;
}

std::vector<uint8_t> midiPart() {
    return midiFileOf(melody());
}

std::vector<uint8_t> midiFileOf(const std::vector<Note>& notes) {
    std::vector<io::MidiNoteEvent> events;
    for (const Note& n : notes) {
        const auto midi = static_cast<uint8_t>(n.midiNote);
        events.push_back({n.start, 0x90, midi, kVelocity});
        if (n.end >= 0.0)
            events.push_back({n.end, 0x80, midi, 0});
    }
    return io::encodeMidiFile(events);
}

} // namespace kelvatone::demo
