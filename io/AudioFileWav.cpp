// The audio file backend of the build without libsndfile (Windows): our own WAV code.
#include "io/AudioFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "io/WavFile.h"

namespace kelvatone::io {
namespace {

const char kWavOnly[] =
    "this build reads WAV only; other formats need the Linux build or a conversion to WAV";

} // namespace

bool readAudioFile(const std::string& path, AudioData& audio, std::string& error) {
    return readWavFile(path, audio, error);
}

bool writeFloatWav(const std::string& path, const AudioData& audio, std::string& error) {
    return writeFloatWavFile(path, audio, error);
}

// The whole file decoded at open(), then answered a block at a time.
struct AudioFileReader::Source {
    AudioData audio;
    size_t position = 0;
};

AudioFileReader::AudioFileReader() = default;
AudioFileReader::~AudioFileReader() = default;

bool AudioFileReader::open(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": no such file or not readable";
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
    auto opened = std::make_unique<Source>();
    std::string reason;
    if (!decodeWav(bytes.data(), bytes.size(), opened->audio, reason)) {
        error = "cannot read " + path + ": " + reason + "; " + kWavOnly;
        return false;
    }
    source = std::move(opened);
    return true;
}

int AudioFileReader::sampleRate() const {
    return source->audio.sampleRate;
}

int AudioFileReader::channelCount() const {
    return static_cast<int>(source->audio.channels.size());
}

int64_t AudioFileReader::frames() const {
    return source->audio.frames();
}

bool AudioFileReader::read(size_t maxFrames, std::vector<float>& interleaved, std::string&) {
    const std::vector<std::vector<float>>& channels = source->audio.channels;
    const size_t end =
        std::min(source->position + maxFrames, static_cast<size_t>(source->audio.frames()));
    interleaved.clear();
    for (size_t frame = source->position; frame < end; ++frame)
        for (const std::vector<float>& channel : channels)
            interleaved.push_back(channel[frame]);
    source->position = end;
    return true;
}

const char* AudioFileReader::formats() {
    return "FILE: a WAV file (PCM 16, 24 or 32 bit or 32-bit float, mono or stereo); other\n"
           "formats need the Linux build or a conversion to WAV";
}

} // namespace kelvatone::io
