#include "host/validate/AudioRig.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "host/validate/RealtimeMonitor.h"

using namespace kelvatone::vst;

namespace kelvatone::host::validate {
namespace {

// Samples after each output block that the module must leave alone.
constexpr int32_t kGuardFrames = 64;
// A quiet-NaN bit pattern no module computes by chance.
constexpr uint32_t kGuardBits = 0x7FC5A5A5u;
constexpr float kNoiseLevel = 0.5f;
constexpr float kDcLevel = 1.0f;
constexpr float kSineFrequency = 440.0f;
constexpr float kSineRate = 44100.0f;
constexpr float kTwoPi = 6.28318530717958647692f;
constexpr double kTwoPiDouble = 6.28318530717958647692;
// At least one channel pointer is passed even to effects that declare none.
constexpr size_t kMinChannelPointers = 1;

uint32_t bitsOf(float sample) {
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

float guardSample() {
    float sample;
    std::memcpy(&sample, &kGuardBits, sizeof sample);
    return sample;
}

std::string at(size_t channel, int32_t frame) {
    return "channel " + std::to_string(channel) + ", frame " + std::to_string(frame);
}

} // namespace

std::string formatSample(float sample) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(sample));
    return text;
}

const char* signalName(Signal signal) {
    switch (signal) {
    case Signal::Silence:
        return "silence";
    case Signal::Noise:
        return "noise";
    case Signal::FullScaleNoise:
        return "full-scale noise";
    case Signal::DcPositive:
        return "DC +1";
    case Signal::DcNegative:
        return "DC -1";
    case Signal::Nan:
        return "NaN";
    case Signal::PositiveInfinity:
        return "+infinity";
    case Signal::NegativeInfinity:
        return "-infinity";
    case Signal::Denormal:
        return "denormals";
    case Signal::Sine:
        return "sine";
    }
    return "?";
}

bool isFinite(Signal signal) {
    return signal != Signal::Nan && signal != Signal::PositiveInfinity &&
           signal != Signal::NegativeInfinity;
}

AudioRig::AudioRig(const AEffect* effect, int32_t maxFrames) : maxFrames_(std::max(maxFrames, 1)) {
    const size_t length = static_cast<size_t>(maxFrames_ + kGuardFrames);
    inputs_.assign(static_cast<size_t>(std::max(effect->numInputs, 0)), std::vector<float>(length));
    outputs_.assign(static_cast<size_t>(std::max(effect->numOutputs, 0)),
                    std::vector<float>(length));
    inputCopy_ = inputs_;
    inputPointers_.assign(std::max(inputs_.size(), kMinChannelPointers), nullptr);
    outputPointers_.assign(std::max(outputs_.size(), kMinChannelPointers), nullptr);
    markOutputs();
}

void AudioRig::fill(Signal signal, int32_t frames, std::mt19937_64& random) {
    const int32_t count = std::clamp(frames, 0, maxFrames_);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const float denormal = std::numeric_limits<float>::denorm_min();
    for (size_t channel = 0; channel < inputs_.size(); ++channel) {
        float* samples = inputs_[channel].data();
        for (int32_t i = 0; i < count; ++i) {
            switch (signal) {
            case Signal::Silence:
                samples[i] = 0.0f;
                break;
            case Signal::Noise:
                samples[i] = kNoiseLevel * noise(random);
                break;
            case Signal::FullScaleNoise:
                samples[i] = noise(random) < 0.0f ? -1.0f : 1.0f;
                break;
            case Signal::DcPositive:
                samples[i] = kDcLevel;
                break;
            case Signal::DcNegative:
                samples[i] = -kDcLevel;
                break;
            case Signal::Nan:
                samples[i] = std::numeric_limits<float>::quiet_NaN();
                break;
            case Signal::PositiveInfinity:
                samples[i] = std::numeric_limits<float>::infinity();
                break;
            case Signal::NegativeInfinity:
                samples[i] = -std::numeric_limits<float>::infinity();
                break;
            case Signal::Denormal:
                samples[i] = (i % 2 == 0 ? 1.0f : -1.0f) * denormal * static_cast<float>(1 + i % 7);
                break;
            case Signal::Sine:
                samples[i] = kNoiseLevel *
                             std::sin(kTwoPi * kSineFrequency * static_cast<float>(i) / kSineRate);
                break;
            }
        }
    }
}

void AudioRig::fillTone(float frequency, float rate, float level, int64_t firstFrame,
                        int32_t frames) {
    const int32_t count = std::clamp(frames, 0, maxFrames_);
    // The phase in double and wrapped per period, so hours of tone stay clean.
    const double step = static_cast<double>(frequency) / rate;
    for (size_t channel = 0; channel < inputs_.size(); ++channel) {
        float* samples = inputs_[channel].data();
        for (int32_t i = 0; i < count; ++i) {
            const double cycles = step * static_cast<double>(firstFrame + i);
            const double phase = cycles - std::floor(cycles);
            samples[i] = level * static_cast<float>(std::sin(kTwoPiDouble * phase));
        }
    }
}

void AudioRig::fillSquare(int32_t period, int64_t firstFrame, int32_t frames) {
    const int32_t count = std::clamp(frames, 0, maxFrames_);
    const int64_t length = std::max(period, 2);
    for (size_t channel = 0; channel < inputs_.size(); ++channel) {
        float* samples = inputs_[channel].data();
        for (int32_t i = 0; i < count; ++i) {
            samples[i] = (firstFrame + i) % length < length / 2 ? 1.0f : -1.0f;
        }
    }
}

void AudioRig::process(AEffect* effect, int32_t frames, bool inPlace) {
    lastInPlace_ = inPlace;
    markOutputs();
    for (size_t channel = 0; channel < inputs_.size(); ++channel) {
        std::copy(inputs_[channel].begin(), inputs_[channel].end(), inputCopy_[channel].begin());
        inputPointers_[channel] = inputs_[channel].data();
    }
    for (size_t channel = 0; channel < outputs_.size(); ++channel) {
        outputPointers_[channel] = inPlace && channel < inputs_.size() ? inputs_[channel].data()
                                                                       : outputs_[channel].data();
    }
    const bool replacing =
        (effect->flags & effFlagsCanReplacing) != 0 && effect->processReplacing != nullptr;
    if (!replacing && frames > 0) {
        for (size_t channel = 0; channel < outputs_.size(); ++channel) {
            std::fill_n(outputPointers_[channel], std::min(frames, maxFrames_), 0.0f);
        }
    }
    InsideModule inside;
    if (replacing) {
        effect->processReplacing(effect, inputPointers_.data(), outputPointers_.data(), frames);
    } else if (effect->process != nullptr) {
        effect->process(effect, inputPointers_.data(), outputPointers_.data(), frames);
    }
}

std::string AudioRig::nonFiniteOutput(int32_t frames) const {
    for (size_t channel = 0; channel < outputs_.size(); ++channel) {
        const float* samples = outputPointers_[channel];
        for (int32_t i = 0; i < frames; ++i) {
            if (!std::isfinite(samples[i])) {
                return "non-finite output " + formatSample(samples[i]) + " at " + at(channel, i);
            }
        }
    }
    return {};
}

std::string AudioRig::differenceFromInput(int32_t frames) const {
    const size_t channels = std::min(inputs_.size(), outputs_.size());
    for (size_t channel = 0; channel < channels; ++channel) {
        const float* out = outputPointers_[channel];
        const float* in = inputCopy_[channel].data();
        for (int32_t i = 0; i < frames; ++i) {
            if (bitsOf(out[i]) != bitsOf(in[i])) {
                return "output " + formatSample(out[i]) + " differs from input " +
                       formatSample(in[i]) + " at " + at(channel, i);
            }
        }
    }
    return {};
}

std::string AudioRig::outputProblem(int32_t frames, bool requireFinite, bool passThrough) const {
    std::string problem = guardDamage(frames);
    if (problem.empty() && requireFinite) {
        problem = nonFiniteOutput(frames);
    }
    if (problem.empty() && passThrough) {
        problem = differenceFromInput(frames);
    }
    return problem;
}

std::string AudioRig::guardDamage(int32_t frames) const {
    if (lastInPlace_) {
        return {};
    }
    const int32_t start = std::clamp(frames, 0, maxFrames_);
    for (size_t channel = 0; channel < outputs_.size(); ++channel) {
        const float* samples = outputs_[channel].data();
        for (int32_t i = start; i < maxFrames_ + kGuardFrames; ++i) {
            if (bitsOf(samples[i]) != kGuardBits) {
                return "the module wrote past the " + std::to_string(frames) +
                       " frames it was given (" + at(channel, i) + ")";
            }
        }
    }
    return {};
}

void AudioRig::markOutputs() {
    for (auto& channel : outputs_) {
        std::fill(channel.begin(), channel.end(), guardSample());
    }
}

std::string AudioRig::outputsWritten() const {
    return guardDamage(0);
}

} // namespace kelvatone::host::validate
