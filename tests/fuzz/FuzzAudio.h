// What the fuzz targets of the two audio file backends (our WAV code, libsndfile) check
// alike: what any successful read gives, and the same samples from the whole-file read and
// from io::AudioFileReader a block at a time. One thread.
#pragma once

#include "io/AudioFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kelvatone::fuzz {

// Frames asked of the block reader per read: odd, so that the last block is mostly short.
constexpr size_t kReaderBlockFrames = 333;

// Mono or stereo, every channel the same length, a positive rate.
inline void requireMonoOrStereo(const io::AudioData& audio) {
    require(!audio.channels.empty() && audio.channels.size() <= io::kMaxFileChannels,
            "a file read as other than mono or stereo");
    for (const std::vector<float>& channel : audio.channels)
        require(channel.size() == audio.channels.front().size(), "channels of unequal length");
    require(audio.sampleRate > 0, "a file read with no sample rate");
}

inline bool sameBits(const io::AudioData& a, const io::AudioData& b) {
    if (a.sampleRate != b.sampleRate || a.channels.size() != b.channels.size())
        return false;
    for (size_t channel = 0; channel < a.channels.size(); ++channel) {
        if (!sameBits(a.channels[channel], b.channels[channel]))
            return false;
    }
    return true;
}

// Everything an opened reader gives, a block at a time, one vector per channel; false
// (with `error` set to a one-line reason) when a read fails.
inline bool readInBlocks(io::AudioFileReader& reader, io::AudioData& audio, std::string& error) {
    const int channels = reader.channelCount();
    require(channels >= 1, "an opened file with no channels");
    audio.sampleRate = reader.sampleRate();
    audio.channels.assign(static_cast<size_t>(channels), {});
    std::vector<float> interleaved;
    for (;;) {
        if (!reader.read(kReaderBlockFrames, interleaved, error)) {
            requireOneLineReason(error);
            return false;
        }
        if (interleaved.empty())
            return true;
        require(interleaved.size() % audio.channels.size() == 0 &&
                    interleaved.size() <= kReaderBlockFrames * audio.channels.size(),
                "a block that is not whole frames, or more frames than asked for");
        for (size_t sample = 0; sample < interleaved.size(); ++sample)
            audio.channels[sample % audio.channels.size()].push_back(interleaved[sample]);
    }
}

} // namespace kelvatone::fuzz
