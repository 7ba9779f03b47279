// Helper for the host's command-line tests: makes deterministic input files and
// compares audio files sample for sample.
//   host_test_audio wav FILE.wav RATE CHANNELS SECONDS   float WAV of pseudo-random noise
//   host_test_audio midi FILE.mid                        a format 1 file with four notes
//   host_test_audio equal A.wav B.wav                    exit 0 when every sample is equal
//   host_test_audio bytes FILE BYTES...                  a file of the given byte values
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/AudioFile.h"
#include "tests/host/TestFiles.h"

namespace {

using namespace kelvatone::host;

int usage() {
    std::fprintf(stderr, "usage: host_test_audio wav|midi|equal|bytes ...\n");
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
    return usage();
}
