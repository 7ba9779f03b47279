// The platform's audio file backend: the float WAV it writes reads back bit-exactly, whole
// and a block at a time, and files it cannot read are refused with the file's name.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "io/AudioFile.h"
#include "tests/host/TestFiles.h"

#if !defined(_WIN32)
#include <sndfile.h>
#endif

namespace kelvatone::io {
namespace {

std::string temporaryPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("kelvatone-io-" + name)).string();
}

TEST(AudioFile, FloatWavReadsBackWholeAndInBlocks) {
    for (int channels = 1; channels <= kMaxFileChannels; ++channels) {
        const AudioData source = host::testing::noise(44100, channels, 70001);
        const std::string path = temporaryPath("float.wav");
        std::string error;
        ASSERT_TRUE(writeFloatWav(path, source, error)) << error;

        AudioData whole;
        ASSERT_TRUE(readAudioFile(path, whole, error)) << error;
        EXPECT_EQ(whole.sampleRate, 44100);
        EXPECT_EQ(whole.channels, source.channels);

        AudioFileReader reader;
        ASSERT_TRUE(reader.open(path, error)) << error;
        EXPECT_EQ(reader.sampleRate(), 44100);
        EXPECT_EQ(reader.channelCount(), channels);
        EXPECT_EQ(reader.frames(), source.frames());
        AudioData blocks;
        blocks.channels.resize(static_cast<size_t>(channels));
        std::vector<float> interleaved;
        size_t reads = 0;
        do {
            ASSERT_TRUE(reader.read(4096, interleaved, error)) << error;
            ASSERT_LE(interleaved.size(), 4096u * static_cast<size_t>(channels));
            for (size_t i = 0; i < interleaved.size(); ++i)
                blocks.channels[i % static_cast<size_t>(channels)].push_back(interleaved[i]);
            ++reads;
        } while (!interleaved.empty());
        EXPECT_EQ(reads, 70001u / 4096 + 2) << "full blocks, the rest, then the empty end";
        EXPECT_EQ(blocks.channels, source.channels);
        std::filesystem::remove(path);
    }
}

TEST(AudioFile, RefusesMissingTextAndUnwritableFilesNamingThem) {
    const std::string missing = temporaryPath("missing.wav");
    const std::string text = temporaryPath("text.wav");
    std::ofstream(text) << "not audio\n";
    for (const std::string& path : {missing, text}) {
        AudioData audio;
        std::string error;
        EXPECT_FALSE(readAudioFile(path, audio, error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        AudioFileReader reader;
        error.clear();
        EXPECT_FALSE(reader.open(path, error));
        EXPECT_EQ(error.rfind("cannot read " + path, 0), 0u) << error;
    }
    std::filesystem::remove(text);

    std::string error;
    const AudioData mono = host::testing::noise(8000, 1, 10);
    const std::string unwritable = temporaryPath("no-such-folder/out.wav");
    EXPECT_FALSE(writeFloatWav(unwritable, mono, error));
    EXPECT_EQ(error.rfind(unwritable + ": ", 0), 0u) << error;
    AudioData none;
    none.sampleRate = 8000;
    EXPECT_FALSE(writeFloatWav(temporaryPath("none.wav"), none, error));
    EXPECT_NE(error.find("cannot write 0 channels"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(temporaryPath("none.wav")));
}

#if !defined(_WIN32)

// Writes interleaved samples through libsndfile in `format`; false when it cannot.
bool writeThroughLibsndfile(const std::string& path, int format, int rate, int channels,
                            const std::vector<float>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

// libsndfile reads any channel count: the reader streams them all, the whole-file reader,
// which feeds a stereo host, refuses more than two.
TEST(AudioFile, ReaderStreamsEveryChannelWhereTheWholeFileReaderWantsMonoOrStereo) {
    const std::string path = temporaryPath("three.wav");
    const std::vector<float> frames = {0.1f, 0.2f, 0.3f, -0.1f, -0.2f, -0.3f};
    ASSERT_TRUE(writeThroughLibsndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 3, frames));

    AudioData audio;
    std::string error;
    EXPECT_FALSE(readAudioFile(path, audio, error));
    EXPECT_NE(error.find("3 channels; only mono and stereo"), std::string::npos) << error;

    AudioFileReader reader;
    ASSERT_TRUE(reader.open(path, error)) << error;
    EXPECT_EQ(reader.channelCount(), 3);
    std::vector<float> interleaved;
    ASSERT_TRUE(reader.read(10, interleaved, error)) << error;
    EXPECT_EQ(interleaved, frames);
    ASSERT_TRUE(reader.read(10, interleaved, error)) << error;
    EXPECT_TRUE(interleaved.empty());
    std::filesystem::remove(path);
}

// An Ogg Vorbis file cut off inside its last page, as an interrupted recording or download
// leaves it: libsndfile cannot tell its length and answers the largest count there is. The
// whole-file read takes what decodes instead of failing to reserve room for that count.
TEST(AudioFile, OggFileCutShortReadsWhatDecodes) {
    const std::string path = temporaryPath("cut.ogg");
    const AudioData noise = host::testing::noise(44100, 1, 44100);
    ASSERT_TRUE(writeThroughLibsndfile(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1,
                                       noise.channels[0]));
    constexpr std::uintmax_t kCutBytes = 100;
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - kCutBytes);

    AudioData audio;
    std::string error;
    ASSERT_NO_THROW(EXPECT_TRUE(readAudioFile(path, audio, error)) << error);
    ASSERT_EQ(audio.channels.size(), 1u);
    EXPECT_GT(audio.frames(), 0);
    EXPECT_LT(audio.frames(), noise.frames());
    std::filesystem::remove(path);
}

#endif

} // namespace
} // namespace kelvatone::io
