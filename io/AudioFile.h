// Audio files, read and written through the platform's one audio file backend: libsndfile
// on Linux (every format it reads), our own WAV code on Windows, where libsndfile is not
// part of the MinGW cross-build (WAV only: PCM 16, 24 or 32 bit or 32-bit float, mono or
// stereo). Both give the same samples for the same WAV file. Samples are floats in -1..1
// (float files may hold any value), rates in Hz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/AudioData.h"

namespace kelvatone::io {

// Any thread; one call per file at a time. The whole of a mono or stereo file; false with
// a one-line reason naming the file otherwise.
bool readAudioFile(const std::string& path, AudioData& audio, std::string& error);
// Any thread; one call per file at a time. The audio (one or two channels) as a 32-bit
// float WAV file, replacing any file of that name; false with a one-line reason naming
// the file when it cannot be written.
bool writeFloatWav(const std::string& path, const AudioData& audio, std::string& error);

// An audio file read a block at a time, for files too long to hold whole. On Linux any
// number of channels is read as it streams from the file; on Windows the WAV file is
// decoded whole at open(). Used by one thread at a time; owns the open file.
class AudioFileReader {
public:
    AudioFileReader();
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // Opens the file; false with a one-line `error` ("cannot read PATH: reason") when it
    // cannot be read as audio or has no channels.
    bool open(const std::string& path, std::string& error);

    // After a successful open(): the file's rate (Hz), its channels (1 or more) and its
    // length in sample frames as the file states it, a hint only: on Linux INT64_MAX for a
    // stream whose length libsndfile cannot tell (an Ogg file cut short).
    int sampleRate() const;
    int channelCount() const;
    int64_t frames() const;

    // The next `maxFrames` sample frames at most, interleaved (channelCount() floats a
    // frame); `interleaved` is left empty at the end of the file. False with `error` set
    // when reading fails.
    bool read(size_t maxFrames, std::vector<float>& interleaved, std::string& error);

    // The formats this build reads, one or two lines for --help.
    static const char* formats();

private:
    struct Source;
    std::unique_ptr<Source> source;
};

} // namespace kelvatone::io
