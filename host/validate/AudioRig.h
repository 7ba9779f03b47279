// Buffers and calls for processing audio through an effect during validation: input
// and output channels of a maximum block length with guard samples after each output
// block, so a module writing past the frames it was given is caught.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vst/AEffect.h"

namespace kelvatone::host::validate {

// Input signals the tests feed.
enum class Signal {
    Silence,
    Noise,
    FullScaleNoise,
    DcPositive,
    DcNegative,
    Nan,
    PositiveInfinity,
    NegativeInfinity,
    Denormal,
    Sine
};

const char* signalName(Signal signal);
// Nine significant digits: enough to tell any two floats apart.
std::string formatSample(float sample);
bool isFinite(Signal signal);

// Built and used on one thread: the audio thread it processes on.
class AudioRig {
public:
    AudioRig(const vst::AEffect* effect, int32_t maxFrames);

    // Fills `frames` samples of every input channel with `signal`; noise from `random`.
    void fill(Signal signal, int32_t frames, std::mt19937_64& random);
    // Fills `frames` samples of every input channel with one stretch of a sine of
    // `frequency` Hz at `rate` and `level`, `firstFrame` frames after its start, so
    // that consecutive blocks join without a jump. Allocates nothing.
    void fillTone(float frequency, float rate, float level, int64_t firstFrame, int32_t frames);
    // The same for a full-scale square wave of `period` frames (+1 for the first half).
    void fillSquare(int32_t period, int64_t firstFrame, int32_t frames);
    // Audio thread: processReplacing (or the accumulating process, outputs cleared
    // first) for `frames` samples, counted as inside the module. With `inPlace` the
    // outputs are the input buffers themselves.
    void process(vst::AEffect* effect, int32_t frames, bool inPlace = false);

    // Empty when every output sample of the last call is finite, else a description.
    std::string nonFiniteOutput(int32_t frames) const;
    // Empty when the outputs of the last call equal the inputs bit for bit (channels
    // the effect has on both sides), else where they first differ.
    std::string differenceFromInput(int32_t frames) const;
    // Empty when no output sample at or after `frames` (the guard area) was written.
    std::string guardDamage(int32_t frames) const;
    // The first of these that finds a problem with the last call's output: guardDamage,
    // nonFiniteOutput when `requireFinite` (for finite input), differenceFromInput when
    // `passThrough`; empty when none does.
    std::string outputProblem(int32_t frames, bool requireFinite, bool passThrough) const;
    // Sets every output sample, guard included, to the guard pattern (process does
    // this before every call).
    void markOutputs();
    // Empty when no output sample was written at all since markOutputs.
    std::string outputsWritten() const;

    int32_t maxFrames() const { return maxFrames_; }
    int inputCount() const { return static_cast<int>(inputs_.size()); }
    int outputCount() const { return static_cast<int>(outputs_.size()); }

private:
    int32_t maxFrames_;
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    // The input before an in-place call overwrote it.
    std::vector<std::vector<float>> inputCopy_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    bool lastInPlace_ = false;
};

} // namespace kelvatone::host::validate
