#include "io/AudioFileRate.h"

#include <cstring>

namespace kelvatone::io {

namespace {

// The bytes of one file, read with bounds checks: a read past the end answers 0.
struct Bytes {
    const uint8_t* data;
    size_t size;

    bool has(size_t at, const char* text) const {
        const size_t length = std::strlen(text);
        return at + length <= size && std::memcmp(data + at, text, length) == 0;
    }
    uint32_t byte(size_t at) const { return at < size ? data[at] : 0; }
    uint32_t littleEndian32(size_t at) const {
        return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
    }
};

int wavRate(const Bytes& file) {
    // RIFF header (12 bytes), then chunks of an 8-byte header and an even-padded body; a
    // chunk that runs past the bytes given ends the search.
    constexpr size_t kChunkHeader = 8;
    constexpr size_t kRateInFormat = 4;
    size_t at = 12;
    while (at + kChunkHeader <= file.size) {
        const uint32_t length = file.littleEndian32(at + 4);
        if (file.has(at, "fmt "))
            return static_cast<int>(file.littleEndian32(at + kChunkHeader + kRateInFormat));
        if (length > file.size - at - kChunkHeader)
            return 0;
        at += kChunkHeader + length + (length & 1u);
    }
    return 0;
}

int flacRate(const Bytes& file) {
    // "fLaC", the stream information block's 4-byte header, then 10 bytes before the rate's
    // 20 bits.
    constexpr size_t kRate = 18;
    return static_cast<int>(file.byte(kRate) << 12 | file.byte(kRate + 1) << 4 |
                            file.byte(kRate + 2) >> 4);
}

int oggRate(const Bytes& file) {
    // The first page: a 27-byte header, its segment table, then the first packet.
    constexpr size_t kSegmentCount = 26;
    constexpr size_t kPageHeader = 27;
    constexpr int kOpusDecodingRate = 48000;
    constexpr size_t kVorbisRate = 12;
    const size_t packet = kPageHeader + file.byte(kSegmentCount);
    if (file.has(packet, "OpusHead"))
        return kOpusDecodingRate;
    if (file.has(packet, "\x01vorbis"))
        return static_cast<int>(file.littleEndian32(packet + kVorbisRate));
    return 0;
}

int mp3Rate(const Bytes& file) {
    constexpr int kRates[3][3] = {{44100, 48000, 32000}, // MPEG 1
                                  {22050, 24000, 16000}, // MPEG 2
                                  {11025, 12000, 8000}}; // MPEG 2.5
    constexpr size_t kTagHeader = 10;
    size_t at = 0;
    if (file.has(0, "ID3")) {
        // A synchsafe length: 7 bits in each of four bytes.
        const uint32_t length =
            file.byte(6) << 21 | file.byte(7) << 14 | file.byte(8) << 7 | file.byte(9);
        at = kTagHeader + static_cast<size_t>(length);
    }
    for (; at + 3 < file.size; ++at) {
        if (file.byte(at) != 0xFF || (file.byte(at + 1) & 0xE0) != 0xE0)
            continue;
        const uint32_t version = (file.byte(at + 1) >> 3) & 3; // 3: 1, 2: 2, 0: 2.5
        const uint32_t layer = (file.byte(at + 1) >> 1) & 3;
        const uint32_t rate = (file.byte(at + 2) >> 2) & 3;
        if (version == 1 || layer == 0 || rate == 3)
            continue;
        const int row = version == 3 ? 0 : version == 2 ? 1 : 2;
        return kRates[row][rate];
    }
    return 0;
}

} // namespace

int audioFileRate(const uint8_t* data, size_t size) {
    const Bytes file{data, size};
    if (file.has(0, "RIFF") && file.has(8, "WAVE"))
        return wavRate(file);
    if (file.has(0, "fLaC"))
        return flacRate(file);
    if (file.has(0, "OggS"))
        return oggRate(file);
    return mp3Rate(file);
}

} // namespace kelvatone::io
