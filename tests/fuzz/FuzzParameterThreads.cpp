// Parameters set from a second thread while the audio thread runs audio and MIDI through
// the effect, as a host's editor or automation thread does beside its audio thread. The
// input gives each thread a script. The setting thread sets any parameter to any float
// (NaN, infinities and values outside 0..1 too), reads values and texts back and now and
// then announces a new sample rate; the audio thread processes blocks of a tone or of
// silence, delivers note lists and automates parameters of its own. Both start together
// on one instance. Checks: every block passes through bit for bit, every value read lies
// in 0..1 and every text ends within 8 characters; once both are done, the analysis range
// is at least an octave wide and, after one more process call, the engine's frame length
// is the one of the resolution set last.
//
// Which thread gets where first differs from run to run, so a finding may take a few runs
// of its input to show again. The same file is built twice: as a libFuzzer target (fuzz
// preset), and with FuzzReplay.cpp under ThreadSanitizer (linux-tsan preset), which
// libFuzzer cannot be combined with, to report the data races behind such findings.
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzEffect.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

using namespace kelvatone::fuzz;
using namespace kelvatone::plugin;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

using kelvatone::analysis::AnalysisEngine;
using kelvatone::analysis::kSmallestRangeSpan;

constexpr size_t kMaxSettingSteps = 256;
// A new rate redesigns the rate converter, the dearest call there is; a few per input
// (the rest read a value instead) keep the inputs quick.
constexpr size_t kMaxRateChanges = 2;
constexpr size_t kMaxAudioSteps = 64;
constexpr int32_t kMaxBlockFrames = 1024;
constexpr int32_t kFinalBlockFrames = 64;
constexpr size_t kHostTextBytes = 9; // 8 characters and the terminating zero
constexpr double kTwoPi = 6.283185307179586;
constexpr float kToneAmplitude = 0.5f;
// Tones from 55 Hz up six octaves, inside the analysis range's widest reach.
constexpr double kLowestTone = 55.0;
constexpr double kToneOctaves = 6.0;
// The notes a parameter's 0..1 spans (AnaBegin, AnaEnd), and half of one.
constexpr float kNoteScale = 108.0f;
constexpr float kHalfNote = 0.5f;
// The rate the tone is made at, whatever rate the setting thread announces.
constexpr double kToneRate = 44100.0;

enum class SettingCall : uint8_t {
    SetAny,
    SetInRange,
    Get,
    Display,
    SampleRate,
    kMaxValue = SampleRate
};
enum class AudioCall : uint8_t { Tone, Silence, Notes, Automate, kMaxValue = Automate };

struct SettingStep {
    SettingCall call;
    int32_t index;
    float value;
};

struct AudioStep {
    AudioCall call;
    int32_t index;
    float value;
    int32_t frames;
    NoteList notes;
};

// Any parameter, and the indices just outside them.
int32_t parameterFrom(FuzzedDataProvider& input) {
    return input.ConsumeIntegralInRange<int32_t>(-1, kNumKelvatoneParameters);
}

bool isParameterIndex(int32_t index) {
    return index >= 0 && index < kNumKelvatoneParameters;
}

SettingStep settingStepFrom(FuzzedDataProvider& input, size_t& rateChanges) {
    SettingStep step{input.ConsumeEnum<SettingCall>(), parameterFrom(input), 0.0f};
    if (step.call == SettingCall::SampleRate && ++rateChanges > kMaxRateChanges)
        step.call = SettingCall::Get;
    if (step.call == SettingCall::SetAny)
        step.value = floatFromBits(input);
    else if (step.call == SettingCall::SetInRange)
        step.value = input.ConsumeProbability<float>();
    else if (step.call == SettingCall::SampleRate)
        step.value = input.PickValueInArray(kUsualRates);
    return step;
}

AudioStep audioStepFrom(FuzzedDataProvider& input) {
    const AudioCall call = input.ConsumeEnum<AudioCall>();
    const int32_t index = parameterFrom(input);
    const float value = input.ConsumeProbability<float>();
    const int32_t frames = input.ConsumeIntegralInRange<int32_t>(1, kMaxBlockFrames);
    return AudioStep{call, index, value, frames, NoteList(input)};
}

void checkReportedValue(const Instance& effect, int32_t index) {
    const float reported = effect.getParameter(index);
    require(reported >= 0.0f && reported <= 1.0f, "a value read outside 0..1");
}

// The setting thread (a host's editor or automation thread).
void runSettingSteps(const Instance& effect, const std::vector<SettingStep>& steps) {
    char text[kHostTextBytes];
    for (const SettingStep& step : steps) {
        switch (step.call) {
        case SettingCall::SetAny:
        case SettingCall::SetInRange:
            effect.setParameter(step.index, step.value);
            break;
        case SettingCall::Get:
            checkReportedValue(effect, step.index);
            break;
        case SettingCall::Display:
            if (!isParameterIndex(step.index))
                break;
            effect.dispatch(effGetParamDisplay, step.index, 0, text);
            require(std::memchr(text, 0, kHostTextBytes) != nullptr,
                    "a text of more than 8 characters");
            break;
        case SettingCall::SampleRate:
            effect.dispatch(effSetSampleRate, 0, 0, nullptr, step.value);
            break;
        }
    }
}

// The audio thread's blocks: a tone kept going across blocks, or silence.
class AudioSource {
public:
    explicit AudioSource(const Instance& effect) : effect(effect) {}

    void process(int32_t frames, double frequency) {
        StereoBlock block(frames);
        for (size_t i = 0; i < block.left.size(); ++i) {
            block.left[i] =
                frequency > 0.0 ? kToneAmplitude * static_cast<float>(std::sin(phase)) : 0.0f;
            block.right[i] = -block.left[i];
            phase = std::fmod(phase + kTwoPi * frequency / kToneRate, kTwoPi);
        }
        effect.effect->processReplacing(effect.effect, block.inputs, block.outputs, frames);
        require(sameBits(block.outLeft, block.left) && sameBits(block.outRight, block.right),
                "a process call changed the audio it passes through");
    }

private:
    const Instance& effect;
    double phase = 0.0;
};

// The audio thread (the host's process calls, with automation between them).
void runAudioSteps(const Instance& effect, std::vector<AudioStep>& steps, AudioSource& source) {
    for (AudioStep& step : steps) {
        switch (step.call) {
        case AudioCall::Tone:
            source.process(step.frames, kLowestTone * std::exp2(step.value * kToneOctaves));
            break;
        case AudioCall::Silence:
            source.process(step.frames, 0.0);
            break;
        case AudioCall::Notes:
            step.notes.send(effect);
            break;
        case AudioCall::Automate:
            effect.setParameter(step.index, step.value);
            break;
        }
    }
}

// After both threads: the settings hold together, and the next process call leaves the
// engine at the frame length of the resolution last set.
void checkSettled(const Instance& effect, AudioSource& source) {
    for (int32_t index = 0; index < kNumKelvatoneParameters; ++index)
        checkReportedValue(effect, index);
    // The range as the host reads it back: whole notes over the note scale, so half a
    // note of slack takes up the float's rounding and nothing more.
    const float span =
        (effect.getParameter(kAnalysisEnd) - effect.getParameter(kAnalysisBegin)) * kNoteScale;
    require(span > static_cast<float>(kSmallestRangeSpan) - kHalfNote,
            "an analysis range narrower than an octave");
    source.process(kFinalBlockFrames, 0.0);
    // The frame length is the guard holder's; the audio thread is done, so this is at once.
    AnalysisEngine& engine = effect.kelvatone().engine;
    engine.guard.lock();
    const bool applied = engine.fftSize == AnalysisEngine::frameLengthFor(engine.engineSampleRate,
                                                                          engine.resolution.load());
    engine.guard.unlock();
    require(applied, "a resolution set but never applied");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<SettingStep> settingSteps(input.ConsumeIntegralInRange<size_t>(0, kMaxSettingSteps),
                                          SettingStep{});
    std::vector<AudioStep> audioSteps;
    const size_t audioCount = input.ConsumeIntegralInRange<size_t>(0, kMaxAudioSteps);
    size_t rateChanges = 0;
    // Taken in turns, so that a short input gives both threads something to do.
    for (size_t i = 0; i < std::max(settingSteps.size(), audioCount); ++i) {
        if (i < settingSteps.size())
            settingSteps[i] = settingStepFrom(input, rateChanges);
        if (i < audioCount)
            audioSteps.push_back(audioStepFrom(input));
    }

    const Instance effect = openEffect();
    effect.dispatch(effMainsChanged, 0, 1);
    AudioSource source(effect);
    std::atomic<int> ready{0};
    const auto startTogether = [&ready] {
        ready.fetch_add(1);
        while (ready.load() < 2)
            std::this_thread::yield();
    };
    std::thread setter([&] {
        startTogether();
        runSettingSteps(effect, settingSteps);
    });
    startTogether();
    runAudioSteps(effect, audioSteps, source);
    setter.join();
    checkSettled(effect, source);
    effect.dispatch(effMainsChanged, 0, 0);
    return 0;
}
