// The rate an audio file's header states, for each format the page hands the browser to
// decode, and nothing for bytes that hold no such header.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/AudioData.h"
#include "io/AudioFileRate.h"
#include "io/WavFile.h"

namespace kelvatone::io {
namespace {

int rateOf(const std::vector<uint8_t>& bytes) {
    return audioFileRate(bytes.data(), bytes.size());
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(AudioFileRate, WavFlacOggAndMp3HeadersNameTheirRate) {
    AudioData audio;
    audio.sampleRate = 96000;
    audio.channels = {std::vector<float>(10, 0.5f)};
    std::vector<uint8_t> wav;
    std::string error;
    ASSERT_TRUE(encodeFloatWav(audio, wav, error)) << error;
    EXPECT_EQ(rateOf(wav), 96000);

    // fLaC, a stream information block header, min/max block and frame sizes (10 bytes),
    // then 20 bits of rate (44100 = 0x0AC44), 3 of channels, 5 of bits per sample.
    std::vector<uint8_t> flac = bytesOf("fLaC");
    flac.insert(flac.end(), {0x00, 0x00, 0x00, 0x22});
    flac.insert(flac.end(), 10, 0);
    flac.insert(flac.end(), {0x0A, 0xC4, 0x42, 0xF0});
    EXPECT_EQ(rateOf(flac), 44100);

    // An Ogg page of one segment whose packet is a Vorbis identification header at 22050
    // Hz, and one whose packet is an Opus header (always decoded at 48000 Hz).
    std::vector<uint8_t> ogg = bytesOf("OggS");
    ogg.resize(26, 0);
    ogg.push_back(1);  // one segment
    ogg.push_back(30); // of 30 bytes
    const std::vector<uint8_t> vorbis = bytesOf("\x01vorbis");
    std::vector<uint8_t> withVorbis = ogg;
    withVorbis.insert(withVorbis.end(), vorbis.begin(), vorbis.end());
    withVorbis.insert(withVorbis.end(), {0, 0, 0, 0, 2, 0x22, 0x56, 0, 0});
    EXPECT_EQ(rateOf(withVorbis), 22050);
    std::vector<uint8_t> withOpus = ogg;
    const std::vector<uint8_t> opus = bytesOf("OpusHead");
    withOpus.insert(withOpus.end(), opus.begin(), opus.end());
    withOpus.insert(withOpus.end(), {1, 2, 0, 0, 0x80, 0xBB, 0, 0});
    EXPECT_EQ(rateOf(withOpus), 48000);

    // An ID3v2 tag of 20 bytes, then an MPEG 1 layer III frame header at 48000 Hz, and an
    // MPEG 2 one at 22050 Hz without a tag.
    std::vector<uint8_t> mp3 = bytesOf("ID3");
    mp3.insert(mp3.end(), {3, 0, 0, 0, 0, 0, 20});
    mp3.insert(mp3.end(), 20, 0xFF); // a tag's bytes may look like a frame's sync
    mp3.insert(mp3.end(), {0xFF, 0xFB, 0x94, 0x00});
    EXPECT_EQ(rateOf(mp3), 48000);
    EXPECT_EQ(rateOf({0xFF, 0xF3, 0x80, 0x00, 0x00}), 22050);
}

TEST(AudioFileRate, BytesWithoutAKnownHeaderOrCutShortNameNoRate) {
    EXPECT_EQ(rateOf(bytesOf("no audio here")), 0);
    EXPECT_EQ(rateOf({}), 0);
    // A WAV whose chunks run past the bytes given, and a tag longer than them.
    std::vector<uint8_t> wav = bytesOf("RIFF");
    wav.insert(wav.end(), {0x10, 0,   0,    0,    'W',  'A',  'V', 'E', 'd', 'a',
                           't',  'a', 0xFF, 0xFF, 0xFF, 0xFF, 'f', 'm', 't', ' '});
    EXPECT_EQ(rateOf(wav), 0);
    std::vector<uint8_t> tag = bytesOf("ID3");
    tag.insert(tag.end(), {3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF, 0xFB, 0x94, 0x00});
    EXPECT_EQ(rateOf(tag), 0);
}

} // namespace
} // namespace kelvatone::io
