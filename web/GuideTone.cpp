#include "web/GuideTone.h"

#include "analysis/Units.h"

#include <algorithm>
#include <cmath>

namespace kelvatone::web {

namespace {

// Each note's level: soft beside a voice (-26 dBFS), and a chord of several stays below
// full scale.
constexpr float kNoteLevel = 0.05f;
// The time constant of the fade in and out.
constexpr double kFadeSeconds = 0.005;
// A level below this after a note ends is silence: the note stops being rendered.
constexpr float kSilent = 1e-5f;
constexpr double kTwoPi = 6.283185307179586;

// Equal temperament, A4 (MIDI 69) at 440 Hz, as the analysis names pitches.
double hertzOf(int note) {
    return analysis::c0Frequency *
           std::pow(2.0, analysis::midiNoteCents(note) / double(analysis::kCentsPerOctave));
}

} // namespace

GuideTone::GuideTone(float sampleRate)
    : rate(sampleRate),
      fade(static_cast<float>(1.0 - std::exp(-1.0 / (kFadeSeconds * sampleRate)))) {}

void GuideTone::render(const analysis::HeldNoteSet& notes, float* out, int frames) {
    std::fill(out, out + frames, 0.0f);
    for (int note = 0; note < vst::kMidiNotes; ++note) {
        const float target = isOn && notes.contains(note) ? kNoteLevel : 0.0f;
        if (target == 0.0f && level[note] < kSilent) {
            level[note] = 0.0f;
            continue;
        }
        const double step = hertzOf(note) / rate;
        double& p = phase[note];
        float& l = level[note];
        for (int i = 0; i < frames; ++i) {
            l += (target - l) * fade;
            out[i] += l * static_cast<float>(std::sin(kTwoPi * p));
            p += step;
            p -= std::floor(p);
        }
    }
}

} // namespace kelvatone::web
