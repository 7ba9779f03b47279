#include "io/WavFile.h"

#include <cstring>
#include <fstream>
#include <limits>

namespace kelvatone::io {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kFmtMinimumLength = 16;
// Extensible format: the sub-format GUID starts 24 bytes into the fmt chunk.
constexpr uint32_t kExtensibleLength = 40;
constexpr uint32_t kSubFormatOffset = 24;
constexpr uint32_t kMaxSampleRate = 10'000'000;
constexpr size_t kRiffHeaderLength = 12;
constexpr size_t kChunkHeaderLength = 8;
// The float fmt chunk we write: the 16 basic bytes and a zero extension size.
constexpr uint32_t kFloatFmtLength = 18;
constexpr uint32_t kFactLength = 4;
constexpr int kFloatBytes = 4;

uint32_t readLittle(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

struct WavFormat {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
};

bool parseFormat(const uint8_t* chunk, uint32_t length, WavFormat& format, std::string& error) {
    if (length < kFmtMinimumLength) {
        error = "fmt chunk too short";
        return false;
    }
    format.tag = static_cast<uint16_t>(readLittle(chunk, 2));
    format.channels = static_cast<uint16_t>(readLittle(chunk + 2, 2));
    format.sampleRate = readLittle(chunk + 4, 4);
    format.blockAlign = static_cast<uint16_t>(readLittle(chunk + 12, 2));
    format.bits = static_cast<uint16_t>(readLittle(chunk + 14, 2));
    if (format.tag == kFormatExtensible) {
        if (length < kExtensibleLength) {
            error = "extensible fmt chunk too short";
            return false;
        }
        format.tag = static_cast<uint16_t>(readLittle(chunk + kSubFormatOffset, 2));
    }
    const bool pcm =
        format.tag == kFormatPcm && (format.bits == 16 || format.bits == 24 || format.bits == 32);
    const bool floating = format.tag == kFormatFloat && format.bits == 32;
    if (!pcm && !floating) {
        error = "unsupported WAV sample format (tag " + std::to_string(format.tag) + ", " +
                std::to_string(format.bits) + " bits)";
        return false;
    }
    if (format.channels < 1 || format.channels > kMaxFileChannels) {
        error = std::to_string(format.channels) + " channels; only mono and stereo are supported";
        return false;
    }
    if (format.sampleRate == 0 || format.sampleRate > kMaxSampleRate) {
        error = "implausible sample rate " + std::to_string(format.sampleRate);
        return false;
    }
    if (format.blockAlign != format.channels * format.bits / 8) {
        error = "block alignment does not match the channels and sample size";
        return false;
    }
    return true;
}

float decodeSample(const uint8_t* p, const WavFormat& format) {
    switch (format.bits) {
    case 16:
        return static_cast<float>(static_cast<int16_t>(readLittle(p, 2))) / 32768.0f;
    case 24: {
        // Shift the 24 bits to the top of an int32 so the sign comes along.
        const auto top = static_cast<int32_t>(readLittle(p, 3) << 8);
        return static_cast<float>(top / 256) / 8388608.0f;
    }
    default: {
        const uint32_t bits = readLittle(p, 4);
        if (format.tag == kFormatFloat) {
            float value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        return static_cast<float>(static_cast<int32_t>(bits)) / 2147483648.0f;
    }
    }
}

void appendLittle(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void appendTag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream stream(path, std::ios::binary | std::ios::ate);
    if (!stream) {
        return false;
    }
    const std::streamoff size = stream.tellg();
    if (size < 0) {
        return false;
    }
    stream.seekg(0);
    bytes.resize(static_cast<size_t>(size));
    return static_cast<bool>(
        stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)));
}

} // namespace

bool decodeWav(const uint8_t* data, size_t size, AudioData& audio, std::string& error) {
    if (size < kRiffHeaderLength || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0) {
        error = "not a WAV file (no RIFF/WAVE header)";
        return false;
    }
    WavFormat format;
    bool haveFormat = false;
    const uint8_t* samples = nullptr;
    size_t sampleBytes = 0;
    size_t position = kRiffHeaderLength;
    // Walk the chunks by the file's real size; the RIFF length field is often wrong
    // in files written by streaming recorders.
    while (size - position >= kChunkHeaderLength) {
        const uint8_t* chunk = data + position;
        const uint32_t length = readLittle(chunk + 4, 4);
        const size_t available = size - position - kChunkHeaderLength;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length > available) {
                error = "fmt chunk runs past the end of the file";
                return false;
            }
            if (!parseFormat(chunk + kChunkHeaderLength, length, format, error)) {
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            samples = chunk + kChunkHeaderLength;
            // A data length past the end (streamed files) means "up to the end".
            sampleBytes = length < available ? length : available;
        }
        if (length >= available) {
            break;
        }
        // Chunks are padded to an even length.
        position += kChunkHeaderLength + length + (length & 1u);
    }
    if (!haveFormat) {
        error = "WAV file without a fmt chunk";
        return false;
    }
    if (samples == nullptr) {
        error = "WAV file without a data chunk";
        return false;
    }
    const size_t frames = sampleBytes / format.blockAlign;
    const size_t sampleSize = format.bits / 8;
    audio.sampleRate = static_cast<int>(format.sampleRate);
    audio.channels.assign(format.channels, std::vector<float>(frames));
    for (size_t frame = 0; frame < frames; ++frame) {
        const uint8_t* p = samples + frame * format.blockAlign;
        for (size_t channel = 0; channel < format.channels; ++channel) {
            audio.channels[channel][frame] = decodeSample(p + channel * sampleSize, format);
        }
    }
    return true;
}

bool encodeFloatWav(const AudioData& audio, std::vector<uint8_t>& bytes, std::string& error) {
    const size_t channels = audio.channels.size();
    const auto frames = static_cast<uint64_t>(audio.frames());
    const uint64_t dataBytes = frames * channels * kFloatBytes;
    const uint64_t riffLength = 4 + (kChunkHeaderLength + kFloatFmtLength) +
                                (kChunkHeaderLength + kFactLength) + kChunkHeaderLength + dataBytes;
    if (channels == 0 || channels > kMaxFileChannels) {
        error = "cannot write " + std::to_string(channels) + " channels";
        return false;
    }
    if (riffLength > std::numeric_limits<uint32_t>::max()) {
        error = "audio too long for a WAV file";
        return false;
    }
    bytes.clear();
    bytes.reserve(static_cast<size_t>(riffLength + kChunkHeaderLength));
    appendTag(bytes, "RIFF");
    appendLittle(bytes, static_cast<uint32_t>(riffLength), 4);
    appendTag(bytes, "WAVE");
    appendTag(bytes, "fmt ");
    appendLittle(bytes, kFloatFmtLength, 4);
    appendLittle(bytes, kFormatFloat, 2);
    appendLittle(bytes, static_cast<uint32_t>(channels), 2);
    appendLittle(bytes, static_cast<uint32_t>(audio.sampleRate), 4);
    appendLittle(bytes, static_cast<uint32_t>(audio.sampleRate * channels * kFloatBytes), 4);
    appendLittle(bytes, static_cast<uint32_t>(channels * kFloatBytes), 2);
    appendLittle(bytes, 8 * kFloatBytes, 2);
    appendLittle(bytes, 0, 2);
    appendTag(bytes, "fact");
    appendLittle(bytes, kFactLength, 4);
    appendLittle(bytes, static_cast<uint32_t>(frames), 4);
    appendTag(bytes, "data");
    appendLittle(bytes, static_cast<uint32_t>(dataBytes), 4);
    for (uint64_t frame = 0; frame < frames; ++frame) {
        for (const std::vector<float>& channel : audio.channels) {
            uint32_t bits;
            std::memcpy(&bits, &channel[static_cast<size_t>(frame)], sizeof bits);
            appendLittle(bytes, bits, 4);
        }
    }
    return true;
}

bool readWavFile(const std::string& path, AudioData& audio, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, bytes)) {
        error = path + ": cannot read the file";
        return false;
    }
    if (!decodeWav(bytes.data(), bytes.size(), audio, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool writeFloatWavFile(const std::string& path, const AudioData& audio, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!encodeFloatWav(audio, bytes, error)) {
        error = path + ": " + error;
        return false;
    }
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!stream.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()))) {
        error = path + ": cannot write the file";
        return false;
    }
    return true;
}

} // namespace kelvatone::io
