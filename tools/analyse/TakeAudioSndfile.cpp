// TakeAudio through libsndfile: any format it reads, streamed a block at a time.
#include "tools/analyse/TakeAudio.h"

#include <sndfile.h>

struct TakeAudio::Reader {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::string path;
    std::vector<float> interleaved;

    ~Reader() {
        if (file != nullptr)
            sf_close(file);
    }
};

TakeAudio::TakeAudio() = default;
TakeAudio::~TakeAudio() = default;

bool TakeAudio::open(const std::string& path, std::string& error) {
    auto opened = std::make_unique<Reader>();
    opened->file = sf_open(path.c_str(), SFM_READ, &opened->info);
    if (opened->file == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (opened->info.channels < 1) {
        error = path + " has no channels";
        return false;
    }
    opened->path = path;
    opened->interleaved.resize(kBlockFrames * static_cast<size_t>(opened->info.channels));
    reader = std::move(opened);
    return true;
}

int TakeAudio::sampleRate() const {
    return reader->info.samplerate;
}

int64_t TakeAudio::frames() const {
    return reader->info.frames;
}

bool TakeAudio::read(std::vector<double>& mono, std::string& error) {
    const int channels = reader->info.channels;
    const sf_count_t got = sf_readf_float(reader->file, reader->interleaved.data(),
                                          static_cast<sf_count_t>(kBlockFrames));
    mono.clear();
    for (sf_count_t i = 0; i < got; ++i) {
        const float* frame = &reader->interleaved[static_cast<size_t>(i) * channels];
        mono.push_back(channels == 1 ? intakeMono(frame[0]) : intakeMono(frame[0], frame[1]));
    }
    if (got <= 0 && sf_error(reader->file) != SF_ERR_NO_ERROR) {
        error = "cannot read " + reader->path + ": " + sf_strerror(reader->file);
        return false;
    }
    return true;
}

const char* TakeAudio::formats() {
    return "FILE: any audio file libsndfile reads (WAV, FLAC, AIFF, Ogg, ...)";
}
