// Our WAV reader, the audio file backend of the Windows tools, with arbitrary bytes: as
// decodeWav takes them, and as a file the Windows io::AudioFileReader reads a block at a
// time (both compiled into this target, since the Linux library holds the libsndfile
// backend instead). A file is either rejected with a one-line reason by both, or read by
// both as the same mono or stereo audio at a plausible rate, with no more frames than the
// bytes can hold; writing that audio as a float WAV and reading it back gives it again,
// bit for bit.
#include "io/WavFile.h"
#include "tests/fuzz/FuzzAudio.h"
#include "tests/fuzz/FuzzFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using kelvatone::fuzz::require;
using kelvatone::io::AudioData;

// The highest rate the reader accepts, and the smallest sample it reads (16 bits).
constexpr int kMaxSampleRate = 10'000'000;
constexpr size_t kSmallestSampleBytes = 2;

void checkDecoded(const AudioData& audio, size_t size) {
    kelvatone::fuzz::requireMonoOrStereo(audio);
    require(audio.sampleRate <= kMaxSampleRate, "an implausible sample rate accepted");
    require(static_cast<size_t>(audio.frames()) * audio.channels.size() * kSmallestSampleBytes <=
                size,
            "more samples than the file's bytes can hold");
    std::vector<uint8_t> bytes;
    std::string error;
    require(kelvatone::io::encodeFloatWav(audio, bytes, error), "decoded audio cannot be written");
    AudioData back;
    require(kelvatone::io::decodeWav(bytes.data(), bytes.size(), back, error) &&
                kelvatone::fuzz::sameBits(audio, back),
            "decoded audio does not survive writing and reading back");
}

void checkBlockReader(const uint8_t* data, size_t size, bool decoded, const AudioData& audio) {
    static kelvatone::fuzz::InputFile file;
    file.write(data, size);
    kelvatone::io::AudioFileReader reader;
    std::string error;
    const bool opened = reader.open(file.path(), error);
    require(opened == decoded, "the block reader and decodeWav disagree on a file");
    if (!opened) {
        kelvatone::fuzz::requireOneLineReason(error);
        return;
    }
    AudioData streamed;
    require(kelvatone::fuzz::readInBlocks(reader, streamed, error) &&
                kelvatone::fuzz::sameBits(streamed, audio),
            "the block reader gives other samples than decodeWav");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AudioData audio;
    std::string error;
    const bool decoded = kelvatone::io::decodeWav(data, size, audio, error);
    if (decoded)
        checkDecoded(audio, size);
    else
        kelvatone::fuzz::requireOneLineReason(error);
    checkBlockReader(data, size, decoded, audio);
    return 0;
}
