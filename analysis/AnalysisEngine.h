// The pitch analysis engine: a ring of the newest mono samples, frame analysis by
// FFT autocorrelation, a level gate, the pitch estimator (PitchEstimator.h), the settings
// it runs with (AnalysisSettings.h) and the history of the last 320 analysed frames that
// the display draws (PitchHistory.h). Units as in Units.h.
//
// Threads:
//   - audio thread: pushSample, frameReady, measureFrame, storeHeldNotes, recordResult,
//     analyseFrame, applyResolution;
//   - any thread: the setting fields (relaxed atomics, written whole, never torn)
//     and the history reads of the display (relaxed atomics per entry, copied whole
//     under historyUpdates);
//   - configure and releaseBuffers replace the working arrays: the caller holds `guard`
//     (or, while constructing or destroying the owner, is the only thread that can reach
//     the engine), never the audio thread. The history is part of the engine itself and
//     is never replaced, so the display may read it at any time.
// The working arrays and their state are GUARDED_BY `guard`, and the operations on them
// REQUIRE it: the compiler checks every use (ThreadSafety.h).
#pragma once

#include "analysis/AnalysisSettings.h"
#include "analysis/PitchEstimator.h"
#include "analysis/PitchHistory.h"
#include "analysis/RealtimeGuard.h"
#include "analysis/ThreadRole.h"
#include "analysis/ThreadSafety.h"
#include "analysis/Units.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kelvatone::analysis {

// Lowest and highest sample rate the engine accepts. Within them, for every analysis range
// the parameters allow (C1..C9), the estimator's lag range starts above lag 0 and ends
// inside the frame, and the frames stay at most 65536 samples long.
constexpr double kMinEngineSampleRate = 22050.0;
constexpr double kMaxEngineSampleRate = 384000.0;

// The settings (threshold, resolution, range, display range) are the engine's own fields,
// written by the parameter setters on any thread and read by the audio thread and the
// display; so are the results and the history, written by the thread that holds `guard`
// inside historyUpdates and read by the display on any thread.
class AnalysisEngine : public AnalysisSettings, public PitchHistory {
public:
    // The frame lengths one configuration serves: that of the finest resolution at the
    // rate, and the two halvings below it, which cover every coarser resolution.
    static constexpr int kFrameLengthCount = 3;

    // Working arrays, created by configure for the longest frame length at the rate, used
    // only by the thread that holds `guard` (the audio thread while it processes). The
    // transform's tables built for the longest length serve the shorter ones as they are.
    std::unique_ptr<int32_t[]> fftWork GUARDED_BY(guard);
    std::unique_ptr<double[]> fftTable GUARDED_BY(guard);
    // hannWindows[k] holds the window of frame length longestFrame >> k.
    std::unique_ptr<double[]> hannWindows[kFrameLengthCount] GUARDED_BY(guard);
    // The window of the current frame length, one of hannWindows.
    const double* hannWindow GUARDED_BY(guard) = nullptr;
    std::unique_ptr<double[]> sampleRing GUARDED_BY(guard);
    int32_t ringWriteIndex GUARDED_BY(guard) = 0;
    // Whether every slot of the current frame length has been written since the ring was
    // last started; until then the slots from ringWriteIndex on read as silence, so that
    // starting the ring needs no pass over it.
    bool ringFilled GUARDED_BY(guard) = false;
    int32_t hopLength GUARDED_BY(guard) = 0;
    int32_t hopCounter GUARDED_BY(guard) = 0;
    std::unique_ptr<double[]> frame GUARDED_BY(guard);
    std::unique_ptr<double[]> correlation GUARDED_BY(guard);

    double engineSampleRate GUARDED_BY(guard) = 0.0;
    int32_t fftSize GUARDED_BY(guard) = 0;
    // The longest frame length the working arrays hold. Set by configure.
    int32_t longestFrame GUARDED_BY(guard) = 0;

    // Held by whoever uses or replaces the arrays: the audio thread tries it once per
    // process call and skips the analysis when it is taken; a reconfiguration waits for
    // it, and a resolution change on another thread tries it.
    RealtimeGuard guard;

    // Rebuilds every buffer and table for the rate (one that supportsSampleRate accepts) and
    // every resolution, selects the frame length of the current resolution, starts the ring
    // silent and empties the history. Allocates. Caller excludes the audio thread (see
    // above); never on the audio thread.
    void configure(double rate) REQUIRES(guard) EXCLUDES(threadrole::audioThread);
    // Frees the working arrays. Same exclusion as configure.
    void releaseBuffers() REQUIRES(guard) EXCLUDES(threadrole::audioThread);
    // Moves to the frame length of the current resolution at the configured rate without
    // allocating: starts the ring silent, restarts the hop counting and empties the history,
    // as configure does. The thread that holds `guard` (the audio thread, or a setting
    // thread that took it).
    void applyResolution() REQUIRES(guard) EXCLUDES(historyUpdates);

    // audio thread
    void pushSample(double value) REQUIRES(guard) {
        sampleRing[ringWriteIndex] = value;
        if (++ringWriteIndex == fftSize) {
            ringWriteIndex = 0;
            ringFilled = true;
        }
        if (hopCounter < INT32_MAX)
            ++hopCounter;
    }
    // audio thread
    bool frameReady() const REQUIRES(guard) { return hopCounter >= hopLength; }
    // audio thread: analyses the newest N samples and answers their pitch (kNoPitch when
    // the frame fails the level gate or has none). Restarts the hop counting; publishes
    // nothing.
    PitchCents measureFrame() REQUIRES(guard);
    // audio thread: measureFrame, then recordResult (PitchHistory): the measured pitch
    // becomes the current result, appended to the column whose notes storeHeldNotes
    // stored. Callers that share the history with readers bracket it (with storeHeldNotes)
    // in historyUpdates.
    void analyseFrame() REQUIRES(guard, historyUpdates) { recordResult(measureFrame()); }

    // The frame length for a rate and resolution: the smallest power of two above
    // rate / resolution. any thread
    static int32_t frameLengthFor(double rate, float resolution);
    // Whether configure may be given this rate: 22050..384000 Hz, where the estimator's lag
    // range stays inside the arrays for every analysis range the parameters allow. any thread
    static bool supportsSampleRate(double rate);

    // The current frame as the estimator sees it: the spectrum and the autocorrelation
    // that measureFrame left in `frame` and `correlation`. The thread that holds `guard`.
    FrameView frameView() const REQUIRES(guard) {
        return FrameView{frame.get(), correlation.get(), fftSize, engineSampleRate};
    }
    // The analysis range's frequencies as the estimator searches them, both from one
    // reading of the range. any thread
    SearchRange searchRange() const {
        const AnalysisRange notes = analysisRange();
        return SearchRange{noteFrequency(notes.begin), noteFrequency(notes.end)};
    }
};

} // namespace kelvatone::analysis
