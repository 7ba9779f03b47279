#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "io/AudioFile.h"
#include "io/WavFile.h"
#include "tests/host/TestFiles.h"

#if !defined(_WIN32)
#include <sndfile.h>
#endif

namespace kelvatone::io {
namespace {

bool sameSamples(const AudioData& a, const AudioData& b) {
    if (a.sampleRate != b.sampleRate || a.channels.size() != b.channels.size() ||
        a.frames() != b.frames()) {
        return false;
    }
    for (size_t channel = 0; channel < a.channels.size(); ++channel) {
        if (std::memcmp(a.channels[channel].data(), b.channels[channel].data(),
                        sizeof(float) * a.channels[channel].size()) != 0) {
            return false;
        }
    }
    return true;
}

TEST(WavFile, FloatRoundTripIsBitExact) {
    const AudioData audio = host::testing::noise(48000, 2, 1001);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(encodeFloatWav(audio, bytes, error)) << error;
    AudioData back;
    ASSERT_TRUE(decodeWav(bytes.data(), bytes.size(), back, error)) << error;
    EXPECT_TRUE(sameSamples(audio, back));
}

// A WAV of the given format tag, bits and channels with the given sample bytes.
std::vector<uint8_t> wavBytes(uint16_t tag, uint16_t bits, uint16_t channels,
                              const std::vector<uint8_t>& samples, bool extensible = false) {
    std::vector<uint8_t> out;
    const auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    const auto tag4 = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    const uint32_t fmtLength = extensible ? 40 : 16;
    tag4("RIFF");
    put(static_cast<uint32_t>(4 + 8 + fmtLength + 8 + samples.size() + 10), 4);
    tag4("WAVE");
    tag4("LIST"); // an odd-sized chunk before fmt, padded to even
    put(1, 4);
    out.push_back('x');
    out.push_back(0);
    tag4("fmt ");
    put(fmtLength, 4);
    put(extensible ? 0xFFFE : tag, 2);
    put(channels, 2);
    put(8000, 4);
    put(8000u * channels * bits / 8, 4);
    put(static_cast<uint32_t>(channels * bits / 8), 2);
    put(bits, 2);
    if (extensible) {
        put(22, 2);
        put(bits, 2);
        put(3, 4);
        put(tag, 2);
        out.insert(out.end(), 14, 0);
    }
    tag4("data");
    put(static_cast<uint32_t>(samples.size()), 4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

TEST(WavFile, DecodesPcmSizesAndExtensibleFormat) {
    struct Case {
        uint16_t bits;
        std::vector<uint8_t> samples;
        float first, second;
    };
    const Case cases[] = {
        {16, {0x00, 0x80, 0xFF, 0x7F}, -1.0f, 32767.0f / 32768.0f},
        {24, {0x00, 0x00, 0x80, 0x00, 0x00, 0x40}, -1.0f, 0.5f},
        {32, {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xC0}, -1.0f, -0.5f},
    };
    for (bool extensible : {false, true}) {
        for (const Case& c : cases) {
            const auto bytes = wavBytes(1, c.bits, 1, c.samples, extensible);
            AudioData audio;
            std::string error;
            ASSERT_TRUE(decodeWav(bytes.data(), bytes.size(), audio, error)) << error;
            ASSERT_EQ(audio.frames(), 2);
            EXPECT_EQ(audio.sampleRate, 8000);
            EXPECT_EQ(audio.channels[0][0], c.first) << c.bits;
            EXPECT_EQ(audio.channels[0][1], c.second) << c.bits;
        }
    }
}

TEST(WavFile, RejectsWhatItCannotReadAndClampsStreamedDataLengths) {
    const auto stereo16 = wavBytes(1, 16, 2, {1, 0, 2, 0, 3, 0, 4, 0});
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {{'R', 'I', 'F', 'F'}, "no RIFF/WAVE"},
        {wavBytes(1, 8, 1, {1, 2}), "unsupported"},
        {wavBytes(3, 64, 1, std::vector<uint8_t>(16)), "unsupported"},
        {wavBytes(1, 16, 3, std::vector<uint8_t>(12)), "3 channels"},
        {std::vector<uint8_t>(stereo16.begin(), stereo16.begin() + 40), "fmt chunk runs past"},
        {std::vector<uint8_t>(stereo16.begin(), stereo16.begin() + 46), "without a data chunk"},
    };
    for (const auto& [bytes, reason] : cases) {
        AudioData audio;
        // A caller reading several files may pass the error of the one before.
        std::string error = "an earlier file's error";
        EXPECT_FALSE(decodeWav(bytes.data(), bytes.size(), audio, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // A data chunk cut short (a recorder that never fixed its header): whole frames only.
    const std::vector<uint8_t> cut(stereo16.begin(), stereo16.end() - 3);
    AudioData audio;
    std::string error;
    ASSERT_TRUE(decodeWav(cut.data(), cut.size(), audio, error)) << error;
    EXPECT_EQ(audio.frames(), 1);
    EXPECT_EQ(audio.channels[1][0], 2.0f / 32768.0f);
}

#if !defined(_WIN32)

std::string temporaryPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("kelvatone-host-" + name)).string();
}

// Our reader against libsndfile: the same files must give the same floats.
TEST(WavFile, ReadsWhatLibsndfileWritesAsLibsndfileReadsIt) {
    const int formats[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32, SF_FORMAT_FLOAT};
    for (int channels = 1; channels <= 2; ++channels) {
        const AudioData source = host::testing::noise(44100, channels, 777);
        for (int subtype : formats) {
            const std::string path = temporaryPath("sndfile.wav");
            SF_INFO info{};
            info.samplerate = source.sampleRate;
            info.channels = channels;
            info.format = SF_FORMAT_WAV | subtype;
            SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
            ASSERT_NE(file, nullptr);
            std::vector<float> interleaved;
            for (int64_t frame = 0; frame < source.frames(); ++frame) {
                for (const auto& channel : source.channels) {
                    interleaved.push_back(channel[static_cast<size_t>(frame)] * 0.9f);
                }
            }
            sf_writef_float(file, interleaved.data(), source.frames());
            sf_close(file);

            AudioData ours, theirs;
            std::string error;
            ASSERT_TRUE(readWavFile(path, ours, error)) << error;
            ASSERT_TRUE(readAudioFile(path, theirs, error)) << error;
            EXPECT_TRUE(sameSamples(ours, theirs))
                << "subtype " << subtype << ", " << channels << " channels";
            std::filesystem::remove(path);
        }
    }
}

TEST(WavFile, LibsndfileReadsOurFloatWavBitExactly) {
    const AudioData source = host::testing::noise(96000, 2, 4099);
    const std::string path = temporaryPath("ours.wav");
    std::string error;
    ASSERT_TRUE(writeFloatWavFile(path, source, error)) << error;
    AudioData back;
    ASSERT_TRUE(readAudioFile(path, back, error)) << error;
    EXPECT_TRUE(sameSamples(source, back));
    std::filesystem::remove(path);
}

#endif

} // namespace
} // namespace kelvatone::io
