// Our own WAV reader and writer (PCM 16, 24 and 32 bit and 32-bit float, mono or
// stereo): the audio file backend of the build without libsndfile (Windows); any build
// may use it directly (the tests do). The reader takes untrusted bytes: every field is
// bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/AudioData.h"

namespace kelvatone::io {

// Any thread. False with a one-line reason for anything but a supported WAV file.
bool decodeWav(const uint8_t* data, size_t size, AudioData& audio, std::string& error);
// Any thread. A 32-bit float WAV of the audio; false when it cannot be represented
// (no channels, more than 4 GiB of data).
bool encodeFloatWav(const AudioData& audio, std::vector<uint8_t>& bytes, std::string& error);

// Any thread; one call per file at a time. The same, from and to the file at `path`,
// with the reasons prefixed by "PATH: ".
bool readWavFile(const std::string& path, AudioData& audio, std::string& error);
bool writeFloatWavFile(const std::string& path, const AudioData& audio, std::string& error);

} // namespace kelvatone::io
