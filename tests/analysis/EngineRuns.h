// A driver that runs the engine over a test signal as the intake does, at the signal's
// own rate (no conversion). One thread.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "tests/support/Signals.h"

#include <functional>
#include <vector>

namespace kelvatone::testsupport {

// Configures the engine and pushes samples until `frames` analyses have run; returns the
// pitch of each analysed frame.
inline std::vector<analysis::PitchCents> analyse(analysis::AnalysisEngine& engine, double rate,
                                                 const std::function<double(long)>& signal,
                                                 int frames) {
    engine.configure(rate);
    std::vector<analysis::PitchCents> pitches;
    for (long i = 0; static_cast<int>(pitches.size()) < frames; ++i) {
        engine.pushSample(signal(i));
        if (engine.frameReady()) {
            engine.storeHeldNotes(analysis::HeldNoteSet{});
            engine.analyseFrame();
            pitches.push_back(engine.currentPitch.load());
        }
    }
    return pitches;
}

// Frames analysed before the ring holds nothing but the signal.
inline int framesUntilFull(const analysis::AnalysisEngine& engine) {
    return (engine.fftSize + engine.hopLength - 1) / engine.hopLength;
}

// The steady-state pitches: those of the frames after the ring has filled.
inline std::vector<analysis::PitchCents> steadyPitches(analysis::AnalysisEngine& engine,
                                                       double rate,
                                                       const std::function<double(long)>& signal,
                                                       int steadyFrames) {
    engine.configure(rate);
    const int skipped = framesUntilFull(engine);
    std::vector<analysis::PitchCents> all = analyse(engine, rate, signal, skipped + steadyFrames);
    return std::vector<analysis::PitchCents>(all.begin() + skipped, all.end());
}

} // namespace kelvatone::testsupport
