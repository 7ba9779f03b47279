// Test signals and a driver that runs the engine over them as the intake does.
#pragma once

#include "analysis/AnalysisEngine.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace testsignals {

constexpr double kPi = 3.14159265358979323846;

// Sum of harmonics: amplitudes[h] is the amplitude of harmonic h + 1 of f0 (Hz).
inline std::function<double(long)> harmonicTone(double rate, double f0,
                                                std::vector<double> amplitudes) {
    return [=](long i) {
        double value = 0.0;
        for (size_t h = 0; h < amplitudes.size(); ++h)
            value += amplitudes[h] * std::sin(2.0 * kPi * f0 * (h + 1) * i / rate);
        return value;
    };
}

inline std::function<double(long)> sine(double rate, double frequency, double amplitude) {
    return harmonicTone(rate, frequency, {amplitude});
}

// Configures the engine and pushes samples until `frames` analyses have run; returns the
// pitch of each analysed frame.
inline std::vector<PitchCents> analyse(AnalysisEngine& engine, double rate,
                                       const std::function<double(long)>& signal, int frames) {
    engine.configure(rate);
    std::vector<PitchCents> pitches;
    for (long i = 0; static_cast<int>(pitches.size()) < frames; ++i) {
        engine.pushSample(signal(i));
        if (engine.frameReady()) {
            engine.storeHeldNotes(HeldNoteSet{});
            engine.analyseFrame();
            pitches.push_back(engine.currentPitch.load());
        }
    }
    return pitches;
}

// Frames analysed before the ring holds nothing but the signal.
inline int framesUntilFull(const AnalysisEngine& engine) {
    return (engine.fftSize + engine.hopLength - 1) / engine.hopLength;
}

// The steady-state pitches: those of the frames after the ring has filled.
inline std::vector<PitchCents> steadyPitches(AnalysisEngine& engine, double rate,
                                             const std::function<double(long)>& signal,
                                             int steadyFrames) {
    engine.configure(rate);
    const int skipped = framesUntilFull(engine);
    std::vector<PitchCents> all = analyse(engine, rate, signal, skipped + steadyFrames);
    return std::vector<PitchCents>(all.begin() + skipped, all.end());
}

inline double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double centsOf(double frequency) {
    return 1200.0 * std::log2(frequency / c0Frequency);
}

} // namespace testsignals
