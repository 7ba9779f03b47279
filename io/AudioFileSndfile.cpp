// The audio file backend on Linux: the one place that calls libsndfile.
#include "io/AudioFile.h"

#include <algorithm>

#include <sndfile.h>

namespace kelvatone::io {
namespace {

// Frames read from or written to libsndfile per call by the whole-file functions.
constexpr sf_count_t kTransferFrames = 65536;
// The most frames the whole-file read reserves room for before reading (64 MiB a channel,
// six minutes at 44.1 kHz). The count in the header is only a hint: libsndfile answers
// SF_COUNT_MAX for a stream whose length it cannot tell (an Ogg file cut short), and a
// damaged header may claim anything. Longer files grow their channels as they are read.
constexpr sf_count_t kMaxReservedFrames = sf_count_t{1} << 24;

// An open libsndfile handle, closed when it goes.
struct SoundFile {
    SNDFILE* file = nullptr;
    SF_INFO info{};

    SoundFile() = default;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    ~SoundFile() {
        if (file != nullptr)
            sf_close(file);
    }

    bool openForReading(const std::string& path) {
        file = sf_open(path.c_str(), SFM_READ, &info);
        return file != nullptr;
    }

    // Up to maxFrames frames into `interleaved`, resized to what was read.
    sf_count_t readFrames(sf_count_t maxFrames, std::vector<float>& interleaved) {
        const auto channels = static_cast<size_t>(info.channels);
        interleaved.resize(static_cast<size_t>(maxFrames) * channels);
        const sf_count_t got = sf_readf_float(file, interleaved.data(), maxFrames);
        interleaved.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0)) * channels);
        return got;
    }
};

} // namespace

bool readAudioFile(const std::string& path, AudioData& audio, std::string& error) {
    SoundFile sound;
    if (!sound.openForReading(path)) {
        error = path + ": cannot read audio (" + sf_strerror(nullptr) + ")";
        return false;
    }
    const SF_INFO& info = sound.info;
    if (info.channels < 1 || info.channels > kMaxFileChannels || info.samplerate <= 0) {
        error = path + ": " + std::to_string(info.channels) +
                " channels; only mono and stereo audio is supported";
        return false;
    }
    const auto channels = static_cast<size_t>(info.channels);
    audio.sampleRate = info.samplerate;
    audio.channels.assign(channels, {});
    const auto reserved =
        static_cast<size_t>(std::clamp<sf_count_t>(info.frames, 0, kMaxReservedFrames));
    for (auto& channel : audio.channels)
        channel.reserve(reserved);
    std::vector<float> interleaved;
    while (sound.readFrames(kTransferFrames, interleaved) > 0) {
        for (size_t sample = 0; sample < interleaved.size(); ++sample)
            audio.channels[sample % channels].push_back(interleaved[sample]);
    }
    const int status = sf_error(sound.file);
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

struct AudioFileReader::Source {
    SoundFile sound;
    std::string path;
};

AudioFileReader::AudioFileReader() = default;
AudioFileReader::~AudioFileReader() = default;

bool AudioFileReader::open(const std::string& path, std::string& error) {
    auto opened = std::make_unique<Source>();
    if (!opened->sound.openForReading(path)) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (opened->sound.info.channels < 1) {
        error = path + " has no channels";
        return false;
    }
    opened->path = path;
    source = std::move(opened);
    return true;
}

int AudioFileReader::sampleRate() const {
    return source->sound.info.samplerate;
}

int AudioFileReader::channelCount() const {
    return source->sound.info.channels;
}

int64_t AudioFileReader::frames() const {
    return source->sound.info.frames;
}

bool AudioFileReader::read(size_t maxFrames, std::vector<float>& interleaved, std::string& error) {
    const sf_count_t got =
        source->sound.readFrames(static_cast<sf_count_t>(maxFrames), interleaved);
    if (got <= 0 && sf_error(source->sound.file) != SF_ERR_NO_ERROR) {
        error = "cannot read " + source->path + ": " + sf_strerror(source->sound.file);
        return false;
    }
    return true;
}

const char* AudioFileReader::formats() {
    return "FILE: any audio file libsndfile reads (WAV, FLAC, AIFF, Ogg, ...)";
}

} // namespace kelvatone::io
