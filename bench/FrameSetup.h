// The frame that the frame-analysis benchmarks analyse, natively (AnalysisBench.cpp) and in
// WebAssembly (web/FrameBench.cpp): a 440 Hz sine filling one frame of length N at 44.1 kHz.
#pragma once

#include "analysis/AnalysisEngine.h"

#include <cmath>

namespace kelvatone::bench {

// Frame lengths 2048, 4096, 8192 are resolutions 30, 15, 10 Hz at 44100 Hz.
inline float resolutionForFrameLength(int n) {
    return n == 2048 ? 30.0f : n == 4096 ? 15.0f : 10.0f;
}

// Configures `engine` for frame length n and fills its frame with the tone at `amplitude`
// (0: a silent frame). Allocates; not timed.
inline void prepareFrame(analysis::AnalysisEngine& engine, int n, double amplitude) {
    constexpr double kRate = 44100.0;
    constexpr double kToneHz = 440.0;
    constexpr double kPi = 3.14159265358979323846;
    engine.resolution.store(resolutionForFrameLength(n));
    engine.configure(kRate);
    for (int i = 0; i < engine.fftSize; ++i)
        engine.pushSample(amplitude * std::sin(2.0 * kPi * kToneHz * i / kRate));
}

} // namespace kelvatone::bench
