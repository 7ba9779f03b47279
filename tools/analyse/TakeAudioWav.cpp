// TakeAudio through the host's WAV reader, for the build without libsndfile (Windows): the
// whole file decoded at open(), then answered a block at a time.
#include "tools/analyse/TakeAudio.h"

#include "host/WavFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

const char kWavOnly[] =
    "this build reads WAV only; other formats need the Linux build or a conversion to WAV";

} // namespace

struct TakeAudio::Reader {
    kelvatone::host::AudioData audio;
    size_t position = 0;
};

TakeAudio::TakeAudio() = default;
TakeAudio::~TakeAudio() = default;

bool TakeAudio::open(const std::string& path, std::string& error) {
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
    auto opened = std::make_unique<Reader>();
    std::string reason;
    if (!kelvatone::host::decodeWav(bytes.data(), bytes.size(), opened->audio, reason)) {
        error = "cannot read " + path + ": " + reason + "; " + kWavOnly;
        return false;
    }
    reader = std::move(opened);
    return true;
}

int TakeAudio::sampleRate() const {
    return reader->audio.sampleRate;
}

int64_t TakeAudio::frames() const {
    return reader->audio.frames();
}

bool TakeAudio::read(std::vector<double>& mono, std::string&) {
    const std::vector<std::vector<float>>& channels = reader->audio.channels;
    const size_t end =
        std::min(reader->position + kBlockFrames, static_cast<size_t>(reader->audio.frames()));
    mono.clear();
    for (size_t i = reader->position; i < end; ++i)
        mono.push_back(channels.size() == 1 ? intakeMono(channels[0][i])
                                            : intakeMono(channels[0][i], channels[1][i]));
    reader->position = end;
    return true;
}

const char* TakeAudio::formats() {
    return "FILE: a WAV file (PCM 16, 24 or 32 bit or 32-bit float, mono or stereo); other\n"
           "formats need the Linux build or a conversion to WAV";
}
