// The way into the analysis: samples in, frames analysed. A stereo pair is mixed to mono,
// the mono stream is converted from its own rate to the analysis rate (RateConverter) and
// every converted sample goes into the engine's ring; whenever a frame is due the caller's
// callback decides what to do with it (analyse and publish it, or skip it while held).
// The plug-in's intake and the analysis tool both feed the engine through here, so a file
// reads exactly as the same audio through a host does.
//
// Threads: the thread that owns the converter and holds the engine's guard (in the
// plug-in, the audio thread inside processReplacing). Allocates nothing, locks nothing:
// the callback is a template parameter, called in place.
#pragma once

#include "analysis/AnalysisEngine.h"
#include "analysis/RateConverter.h"

#include <cstdint>

namespace kelvatone::analysis {

// The mono value of one stereo sample frame: the mean of the two channels, summed in
// single precision. any thread
inline double monoMix(float left, float right) {
    const float sum = left + right;
    return static_cast<double>(sum) * 0.5;
}

class AnalysisFeed {
public:
    // Feeds `engine` through `converter`; both outlive the feed, and their configuration is
    // the caller's (converter for the input rate, engine for the converter's output rate).
    AnalysisFeed(RateConverter& intoAnalysisRate, AnalysisEngine& analysedBy)
        : converter(intoAnalysisRate), engine(analysedBy) {}

    // One mono sample at the input rate. For every converted sample it produces: into the
    // engine's ring, then frameDue(newest) when a frame is due, where newest is that
    // sample's index in the converted stream (counted from 0 since the feed was made).
    // frameDue analyses the frame (engine.measureFrame or analyseFrame, which restart the
    // hop counting) or leaves it due.
    template <class FrameDue> void push(double sample, FrameDue&& frameDue) {
        converter.push(sample, [&](double converted) {
            // Called back within push, on the caller's thread, which holds the guard; the
            // compiler does not follow the engine through this object's reference.
            engine.guard.assertHeld();
            const int64_t newest = convertedCount++;
            engine.pushSample(converted);
            if (engine.frameReady())
                frameDue(newest);
        });
    }

    // One stereo sample frame: push of its mono mix.
    template <class FrameDue> void pushStereo(float left, float right, FrameDue&& frameDue) {
        push(monoMix(left, right), frameDue);
    }

    // Samples of the converted stream so far.
    int64_t converted() const { return convertedCount; }

private:
    RateConverter& converter;
    AnalysisEngine& engine;
    int64_t convertedCount = 0;
};

} // namespace kelvatone::analysis
