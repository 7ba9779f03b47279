// Helper for the host's command-line tests: makes deterministic input files and
// compares audio files sample for sample.
//   host_test_audio wav FILE.wav RATE CHANNELS SECONDS   float WAV of pseudo-random noise
//   host_test_audio midi FILE.mid                        a format 1 file with four notes
//   host_test_audio equal A.wav B.wav                    exit 0 when every sample is equal
//   host_test_audio bytes FILE BYTES...                  a file of the given byte values
//   host_test_audio peak FILE.wav FROM TO MIN MAX        exit 0 when the peak level between
//                                                        FROM and TO seconds is in MIN..MAX
//   host_test_audio image FILE.png WIDTH HEIGHT           exit 0 when the PNG has that size
//   host_test_audio pixel FILE.png X Y RRGGBB             exit 0 when that pixel has that colour
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>

#include "io/AudioFile.h"
#include "tests/host/TestFiles.h"

namespace {

using namespace kelvatone::host;
using namespace kelvatone::io;

int usage() {
    std::fprintf(stderr, "usage: host_test_audio wav|midi|equal|bytes|peak|image|pixel ...\n");
    return 2;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out.write(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<std::streamsize>(bytes.size())));
}

int makeWav(const char* path, int rate, int channels, double seconds) {
    const AudioData audio = testing::noise(rate, channels, static_cast<int64_t>(seconds * rate));
    std::string error;
    if (!writeFloatWav(path, audio, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    return 0;
}

int compare(const char* first, const char* second) {
    AudioData a, b;
    std::string error;
    if (!readAudioFile(first, a, error) || !readAudioFile(second, b, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (a.sampleRate != b.sampleRate || a.channels.size() != b.channels.size() ||
        a.frames() != b.frames()) {
        std::fprintf(stderr, "different shapes: %d Hz x %zu x %lld against %d Hz x %zu x %lld\n",
                     a.sampleRate, a.channels.size(), static_cast<long long>(a.frames()),
                     b.sampleRate, b.channels.size(), static_cast<long long>(b.frames()));
        return 1;
    }
    for (size_t channel = 0; channel < a.channels.size(); ++channel) {
        if (std::memcmp(a.channels[channel].data(), b.channels[channel].data(),
                        sizeof(float) * a.channels[channel].size()) != 0) {
            std::fprintf(stderr, "channel %zu differs\n", channel);
            return 1;
        }
    }
    std::printf("equal: %lld frames x %zu channels\n", static_cast<long long>(a.frames()),
                a.channels.size());
    return 0;
}

int checkPeak(const char* path, double from, double to, double minimum, double maximum) {
    AudioData audio;
    std::string error;
    if (!readAudioFile(path, audio, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const auto first = static_cast<int64_t>(from * audio.sampleRate);
    const auto last = std::min(audio.frames(), static_cast<int64_t>(to * audio.sampleRate));
    double peak = 0.0;
    for (const auto& channel : audio.channels) {
        for (int64_t frame = first; frame < last; ++frame) {
            peak =
                std::max(peak, static_cast<double>(std::fabs(channel[static_cast<size_t>(frame)])));
        }
    }
    std::printf("%s: peak %.6f between %.3f and %.3f s\n", path, peak, from, to);
    return peak >= minimum && peak <= maximum ? 0 : 1;
}

// The PNG's pixels as 0xRRGGBB, or empty when it cannot be read.
std::vector<uint32_t> readPng(const char* path, int& width, int& height) {
    int components = 0;
    unsigned char* pixels = stbi_load(path, &width, &height, &components, 3);
    std::vector<uint32_t> colours;
    if (pixels != nullptr) {
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
            colours.push_back((uint32_t{pixels[3 * i]} << 16) | (uint32_t{pixels[3 * i + 1]} << 8) |
                              pixels[3 * i + 2]);
        }
        stbi_image_free(pixels);
    }
    return colours;
}

int checkImage(const char* path, int expectedWidth, int expectedHeight) {
    int width = 0, height = 0;
    if (readPng(path, width, height).empty()) {
        std::fprintf(stderr, "%s: not a readable PNG\n", path);
        return 2;
    }
    std::printf("%s: %d x %d\n", path, width, height);
    return width == expectedWidth && height == expectedHeight ? 0 : 1;
}

int checkPixel(const char* path, int x, int y, const char* expected) {
    int width = 0, height = 0;
    const std::vector<uint32_t> colours = readPng(path, width, height);
    if (colours.empty() || x < 0 || y < 0 || x >= width || y >= height) {
        std::fprintf(stderr, "%s: not a readable PNG with pixel %d,%d\n", path, x, y);
        return 2;
    }
    const uint32_t colour = colours[static_cast<size_t>(y) * width + x];
    std::printf("%s: pixel %d,%d is %06X\n", path, x, y, colour);
    return colour == std::strtoul(expected, nullptr, 16) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::strcmp(argv[1], "wav") == 0) {
        return makeWav(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]));
    }
    if (argc == 3 && std::strcmp(argv[1], "midi") == 0) {
        return writeBytes(argv[2], testing::fourNoteMidiFile()) ? 0 : 2;
    }
    if (argc == 4 && std::strcmp(argv[1], "equal") == 0) {
        return compare(argv[2], argv[3]);
    }
    if (argc >= 3 && std::strcmp(argv[1], "bytes") == 0) {
        std::vector<uint8_t> bytes;
        for (int i = 3; i < argc; ++i) {
            bytes.push_back(static_cast<uint8_t>(std::strtoul(argv[i], nullptr, 0)));
        }
        return writeBytes(argv[2], bytes) ? 0 : 2;
    }
    if (argc == 7 && std::strcmp(argv[1], "peak") == 0) {
        return checkPeak(argv[2], std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]),
                         std::atof(argv[6]));
    }
    if (argc == 5 && std::strcmp(argv[1], "image") == 0) {
        return checkImage(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (argc == 6 && std::strcmp(argv[1], "pixel") == 0) {
        return checkPixel(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    }
    return usage();
}
