// kelvatone-bench-take: writes the demo take and its MIDI part looped to a given length,
// the input of the whole-file benchmarks (32-bit float WAV, Standard MIDI File).
#include "bench/LoopedTake.h"
#include "io/AudioFile.h"
#include "tools/demo/DemoTake.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace kelvatone::demo;
using namespace kelvatone::bench;

namespace {

constexpr int kBadInput = 2;
constexpr double kMaxSeconds = 3600.0;
// 120 beats per minute at 480 ticks per quarter note: 960 ticks per second.
constexpr uint16_t kTicksPerQuarter = 480;
constexpr uint32_t kMicrosecondsPerQuarter = 500000;
constexpr double kTicksPerSecond = kTicksPerQuarter * 1e6 / kMicrosecondsPerQuarter;

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void appendVariableLength(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

// Format 0, one track: the tempo, then the events, then the end of the track.
std::vector<uint8_t> standardMidiFile(const std::vector<kelvatone::io::MidiNoteEvent>& events) {
    std::vector<uint8_t> track = {0x00, 0xFF, 0x51, 0x03};
    appendBigEndian(track, kMicrosecondsPerQuarter, 3);
    uint32_t previousTick = 0;
    for (const auto& event : events) {
        const uint32_t tick = static_cast<uint32_t>(std::llround(event.seconds * kTicksPerSecond));
        appendVariableLength(track, tick - previousTick);
        previousTick = tick;
        track.insert(track.end(), {event.status, event.note, event.velocity});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});

    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    appendBigEndian(file, kTicksPerQuarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    appendBigEndian(file, static_cast<uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: kelvatone-bench-take TAKE.wav PART.mid SECONDS\n"
                    "Writes the demo take repeated to SECONDS (mono, 44100 Hz, 32-bit float\n"
                    "WAV) and its MIDI part repeated with it (Standard MIDI File).\n");
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "kelvatone-bench-take: want TAKE.wav PART.mid SECONDS (see --help)\n");
        return kBadInput;
    }
    char* end = nullptr;
    const double seconds = std::strtod(argv[3], &end);
    if (*end != '\0' || !(seconds > 0.0 && seconds <= kMaxSeconds)) {
        std::fprintf(stderr, "kelvatone-bench-take: SECONDS wants a number in (0, %g], not %s\n",
                     kMaxSeconds, argv[3]);
        return kBadInput;
    }
    kelvatone::io::AudioData audio;
    audio.sampleRate = kSampleRate;
    audio.channels.push_back(loopedTake(seconds));
    std::string error;
    if (!kelvatone::io::writeFloatWav(argv[1], audio, error)) {
        std::fprintf(stderr, "kelvatone-bench-take: %s\n", error.c_str());
        return kBadInput;
    }
    if (!writeBytes(argv[2], standardMidiFile(loopedPart(seconds)))) {
        std::fprintf(stderr, "kelvatone-bench-take: cannot write %s\n", argv[2]);
        return kBadInput;
    }
    return 0;
}
