// Audio held in memory: one vector of samples per channel.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvatone::host {

struct AudioData {
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;

    int64_t frames() const {
        return channels.empty() ? 0 : static_cast<int64_t>(channels.front().size());
    }
};

// The channel counts the host reads and writes.
constexpr int kMaxFileChannels = 2;

} // namespace kelvatone::host
