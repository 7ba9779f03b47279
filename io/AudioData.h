// Audio held in memory: one vector of samples per channel, every channel the same length.
// Samples are floats, nominally -1..1; the rate is in Hz. Owns its samples.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvatone::io {

struct AudioData {
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;

    int64_t frames() const {
        return channels.empty() ? 0 : static_cast<int64_t>(channels.front().size());
    }
};

// The most channels readAudioFile takes and writeFloatWav and the WAV code write (mono or
// stereo).
constexpr int kMaxFileChannels = 2;

} // namespace kelvatone::io
