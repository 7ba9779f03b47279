// TakeAudio over the audio file reader: each block of frames mixed to mono.
#include "tools/analyse/TakeAudio.h"

#include "io/AudioFile.h"

namespace kelvatone::analyse {

struct TakeAudio::Reader {
    kelvatone::io::AudioFileReader file;
    std::vector<float> interleaved;
};

TakeAudio::TakeAudio() = default;
TakeAudio::~TakeAudio() = default;

bool TakeAudio::open(const std::string& path, std::string& error) {
    auto opened = std::make_unique<Reader>();
    if (!opened->file.open(path, error))
        return false;
    opened->interleaved.reserve(kBlockFrames * static_cast<size_t>(opened->file.channelCount()));
    reader = std::move(opened);
    return true;
}

int TakeAudio::sampleRate() const {
    return reader->file.sampleRate();
}

int64_t TakeAudio::frames() const {
    return reader->file.frames();
}

bool TakeAudio::read(std::vector<double>& mono, std::string& error) {
    mono.clear();
    if (!reader->file.read(kBlockFrames, reader->interleaved, error))
        return false;
    const auto channels = static_cast<size_t>(reader->file.channelCount());
    for (size_t at = 0; at < reader->interleaved.size(); at += channels) {
        const float* frame = &reader->interleaved[at];
        mono.push_back(channels == 1 ? intakeMono(frame[0]) : intakeMono(frame[0], frame[1]));
    }
    return true;
}

const char* TakeAudio::formats() {
    return kelvatone::io::AudioFileReader::formats();
}

} // namespace kelvatone::analyse
