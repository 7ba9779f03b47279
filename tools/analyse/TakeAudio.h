// The take's audio, read block by block through io's AudioFileReader and mixed to mono as
// the plug-in's intake mixes the host's channels. The Linux build reads every format
// libsndfile reads (WAV, FLAC, AIFF, Ogg, ...); the Windows build WAV only (PCM 16, 24 or
// 32 bit or 32-bit float, mono or stereo), and names the other formats as needing the
// Linux build or a conversion. Both give the same samples for the same WAV file. One thread.
#pragma once

#include "analysis/Feed.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvatone::analyse {

class TakeAudio {
public:
    // Mono samples answered by one read() at most.
    static constexpr size_t kBlockFrames = 4096;

    TakeAudio();
    ~TakeAudio();
    TakeAudio(const TakeAudio&) = delete;
    TakeAudio& operator=(const TakeAudio&) = delete;

    // Opens the file; false with a one-line `error` when it cannot be read as audio or has
    // no channels.
    bool open(const std::string& path, std::string& error);

    // After a successful open(): the file's rate and its length in sample frames.
    int sampleRate() const;
    int64_t frames() const;

    // The next block of mono samples, empty at the end of the file; false with `error` set
    // when reading fails.
    bool read(std::vector<double>& mono, std::string& error);

    // The formats this build reads, for --help.
    static const char* formats();

private:
    struct Reader;
    std::unique_ptr<Reader> reader;
};

// The mono value the plug-in's intake forms from one sample frame: one channel as it is, the
// mean of the first two otherwise (summed in single precision, as the intake sums).
inline double intakeMono(float only) {
    return only;
}
inline double intakeMono(float first, float second) {
    return analysis::monoMix(first, second);
}

} // namespace kelvatone::analyse
