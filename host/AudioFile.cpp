#include "host/AudioFile.h"

#include <algorithm>
#include <vector>

#if defined(_WIN32)
#include "host/WavFile.h"
#else
#include <sndfile.h>
#endif

namespace kelvatone::host {

#if defined(_WIN32)

bool readAudioFile(const std::string& path, AudioData& audio, std::string& error) {
    return readWavFile(path, audio, error);
}

bool writeFloatWav(const std::string& path, const AudioData& audio, std::string& error) {
    return writeFloatWavFile(path, audio, error);
}

#else

namespace {
// Frames read from or written to libsndfile per call.
constexpr sf_count_t kTransferFrames = 65536;
} // namespace

bool readAudioFile(const std::string& path, AudioData& audio, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = path + ": cannot read audio (" + sf_strerror(nullptr) + ")";
        return false;
    }
    if (info.channels < 1 || info.channels > kMaxFileChannels || info.samplerate <= 0) {
        error = path + ": " + std::to_string(info.channels) +
                " channels; only mono and stereo audio is supported";
        sf_close(file);
        return false;
    }
    const auto channels = static_cast<size_t>(info.channels);
    audio.sampleRate = info.samplerate;
    audio.channels.assign(channels, {});
    for (auto& channel : audio.channels) {
        channel.reserve(static_cast<size_t>(info.frames > 0 ? info.frames : 0));
    }
    std::vector<float> interleaved(static_cast<size_t>(kTransferFrames) * channels);
    sf_count_t got = 0;
    while ((got = sf_readf_float(file, interleaved.data(), kTransferFrames)) > 0) {
        for (sf_count_t frame = 0; frame < got; ++frame) {
            for (size_t channel = 0; channel < channels; ++channel) {
                audio.channels[channel].push_back(
                    interleaved[static_cast<size_t>(frame) * channels + channel]);
            }
        }
    }
    const int status = sf_error(file);
    sf_close(file);
    if (status != SF_ERR_NO_ERROR) {
        error = path + ": error while reading audio (" + sf_error_number(status) + ")";
        return false;
    }
    return true;
}

bool writeFloatWav(const std::string& path, const AudioData& audio, std::string& error) {
    const size_t channels = audio.channels.size();
    if (channels == 0 || channels > kMaxFileChannels) {
        error = path + ": cannot write " + std::to_string(channels) + " channels";
        return false;
    }
    SF_INFO info{};
    info.samplerate = audio.sampleRate;
    info.channels = static_cast<int>(channels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = path + ": cannot write audio (" + sf_strerror(nullptr) + ")";
        return false;
    }
    std::vector<float> interleaved(static_cast<size_t>(kTransferFrames) * channels);
    const int64_t frames = audio.frames();
    bool written = true;
    for (int64_t start = 0; start < frames && written; start += kTransferFrames) {
        const int64_t count = std::min<int64_t>(kTransferFrames, frames - start);
        for (int64_t frame = 0; frame < count; ++frame) {
            for (size_t channel = 0; channel < channels; ++channel) {
                interleaved[static_cast<size_t>(frame) * channels + channel] =
                    audio.channels[channel][static_cast<size_t>(start + frame)];
            }
        }
        written = sf_writef_float(file, interleaved.data(), count) == count;
    }
    const bool closed = sf_close(file) == 0;
    if (!written || !closed) {
        error = path + ": error while writing audio";
        return false;
    }
    return true;
}

#endif

} // namespace kelvatone::host
