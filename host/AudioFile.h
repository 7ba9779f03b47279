// Reading the input audio and writing the output as 32-bit float WAV: through
// libsndfile on Linux, through our own WAV code on Windows (no libsndfile there).
#pragma once

#include <string>

#include "host/AudioData.h"

namespace kelvatone::host {

// UI thread. Mono or stereo audio of any format the platform's reader knows; false
// with a one-line reason otherwise.
bool readAudioFile(const std::string& path, AudioData& audio, std::string& error);
// UI thread. The audio as a 32-bit float WAV file.
bool writeFloatWav(const std::string& path, const AudioData& audio, std::string& error);

} // namespace kelvatone::host
