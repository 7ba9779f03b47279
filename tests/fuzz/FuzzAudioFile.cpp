// The Linux audio file backend (libsndfile, any format it knows) with arbitrary bytes as
// a file, read whole by io::readAudioFile and a block at a time by io::AudioFileReader, as
// kelvatone-host and kelvatone-analyse read what a user gives them. Each read either
// fails with a one-line reason or succeeds: the whole-file read with mono or stereo
// audio at a positive rate, the block reader with whole frames of at least one channel;
// where both succeed they give the same samples, bit for bit.
#include "io/AudioFile.h"
#include "tests/fuzz/FuzzAudio.h"
#include "tests/fuzz/FuzzFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

using kelvatone::fuzz::require;
using kelvatone::fuzz::requireOneLineReason;
using kelvatone::io::AudioData;

// LeakSanitizer's hook for leaks that are not ours: libsndfile (1.2.0) does not free the
// Vorbis decoder's state when it gives up on a damaged Ogg file in sf_open, which has then
// handed us nothing to close. Anything else left behind is still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:vorbis_info_init\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kelvatone::fuzz::InputFile file;
    file.write(data, size);

    AudioData whole;
    std::string error;
    const bool read = kelvatone::io::readAudioFile(file.path(), whole, error);
    if (read)
        kelvatone::fuzz::requireMonoOrStereo(whole);
    else
        requireOneLineReason(error);

    kelvatone::io::AudioFileReader reader;
    std::string openError;
    if (!reader.open(file.path(), openError)) {
        requireOneLineReason(openError);
        require(!read, "a file read whole that the block reader cannot open");
        return 0;
    }
    AudioData streamed;
    std::string readError;
    if (kelvatone::fuzz::readInBlocks(reader, streamed, readError) && read)
        require(kelvatone::fuzz::sameBits(streamed, whole),
                "the block reader gives other samples than the whole-file read");
    return 0;
}
