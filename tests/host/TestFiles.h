// Inputs the host tests build in memory: noise audio and Standard MIDI Files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "io/AudioData.h"

namespace kelvatone::host::testing {

// Deterministic pseudo-random samples in -1..1, different in every channel.
inline io::AudioData noise(int sampleRate, int channels, int64_t frames) {
    io::AudioData audio;
    audio.sampleRate = sampleRate;
    uint32_t state = 12345;
    audio.channels.assign(static_cast<size_t>(channels),
                          std::vector<float>(static_cast<size_t>(frames)));
    for (int64_t frame = 0; frame < frames; ++frame) {
        for (auto& channel : audio.channels) {
            state = state * 1664525u + 1013904223u;
            channel[static_cast<size_t>(frame)] =
                static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
        }
    }
    return audio;
}

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& out, std::initializer_list<int> bytes) {
    for (int byte : bytes) {
        out.push_back(static_cast<uint8_t>(byte));
    }
}

inline void appendBigEndian(Bytes& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

inline Bytes header(int format, int tracks, int division) {
    Bytes out;
    append(out, {'M', 'T', 'h', 'd', 0, 0, 0, 6});
    appendBigEndian(out, static_cast<uint32_t>(format), 2);
    appendBigEndian(out, static_cast<uint32_t>(tracks), 2);
    appendBigEndian(out, static_cast<uint32_t>(division), 2);
    return out;
}

inline void appendTrack(Bytes& out, const Bytes& events) {
    append(out, {'M', 'T', 'r', 'k'});
    appendBigEndian(out, static_cast<uint32_t>(events.size()), 4);
    out.insert(out.end(), events.begin(), events.end());
}

// Format 1, 480 ticks per quarter: a tempo track (120 bpm, then 60 bpm from tick
// 960) and a note track: A4 on at tick 480 (0.5 s), off at 960 (1.0 s) with running
// status, C5 on at 1440 (2.0 s, under 60 bpm) and off at 1920 (3.0 s).
inline Bytes fourNoteMidiFile() {
    Bytes file = header(1, 2, 480);
    appendTrack(file, {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,       // 500000 us per quarter
                       0x87, 0x40, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, // at 960: 1000000 us
                       0x00, 0xFF, 0x2F, 0x00});
    appendTrack(file, {0x83, 0x60, 0x90, 0x45, 0x64, // delta 480: note on A4
                       0x83, 0x60, 0x45, 0x00,       // delta 480: running status, velocity 0
                       0x83, 0x60, 0x91, 0x48, 0x50, // delta 480: note on C5, channel 2
                       0x83, 0x60, 0x81, 0x48, 0x40, // delta 480: note off
                       0x00, 0xFF, 0x2F, 0x00});
    return file;
}

} // namespace kelvatone::host::testing
