// kelvatone-demo-take: writes the built-in demo take and its MIDI part.
#include "io/AudioFile.h"
#include "tools/demo/DemoTake.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace kelvatone::demo;

namespace {

constexpr int kUsageError = 2;

const char kUsage[] = "usage: kelvatone-demo-take TAKE.wav PART.mid\n"
                      "Writes the 12-second demo melody (mono, 44100 Hz, 32-bit float WAV)\n"
                      "and the MIDI part of the notes it means (Standard MIDI File).\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "kelvatone-demo-take: %s\n", message.c_str());
    return kUsageError;
}

bool writeTake(const char* path) {
    kelvatone::io::AudioData take;
    take.sampleRate = kSampleRate;
    take.channels.push_back(renderTake());
    std::string error;
    return kelvatone::io::writeFloatWav(path, take, error);
}

bool writeMidi(const char* path) {
    const std::vector<uint8_t> bytes = midiPart();
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3)
        return fail("expected two file names (see --help)");
    if (!writeTake(argv[1]))
        return fail(std::string("cannot write the take to ") + argv[1]);
    if (!writeMidi(argv[2]))
        return fail(std::string("cannot write the MIDI part to ") + argv[2]);
    return 0;
}
