#include "analysis/AnalysisEngine.h"

#include "analysis/RealFft.h"
#include "analysis/ThreadRole.h"

#include <algorithm>
#include <cmath>

namespace kelvatone::analysis {

namespace {

// Hops per second of audio: the analysis runs every trunc(rate / 30) samples.
constexpr double kAnalysesPerSecond = 30.0;
constexpr double kTwoPi = 6.283185307179586;

// The envelope of the peak search reads four lags past the end of the range.
constexpr int32_t kEnvelopeReach = 4;

int32_t fftWorkLength(int32_t n) {
    return static_cast<int32_t>(std::sqrt(n * 0.5) + 1.0) + 2;
}

} // namespace

int32_t AnalysisEngine::frameLengthFor(double rate, float resolution) {
    const double quotient = rate / static_cast<double>(resolution);
    return static_cast<int32_t>(std::pow(2.0, std::trunc(std::log2(quotient)) + 1));
}

// The widest analysis range with the coarsest resolution (the shortest frame) must fit.
bool AnalysisEngine::supportsSampleRate(double rate) {
    if (!(rate >= kMinEngineSampleRate && rate <= kMaxEngineSampleRate))
        return false;
    const int32_t firstLag = static_cast<int32_t>(rate / noteFrequency(kHighestEndNote)) - 1;
    const int32_t stopLag = static_cast<int32_t>(rate / noteFrequency(kLowestBeginNote)) + 1;
    const int32_t shortestFrame = frameLengthFor(rate, kCoarsestResolution);
    return firstLag >= 0 && stopLag + kEnvelopeReach < shortestFrame;
}

void AnalysisEngine::configure(double rate) {
    threadrole::assertNotAudioThread("configuring the analysis engine");
    releaseBuffers();
    engineSampleRate = rate;
    const int32_t longest = frameLengthFor(rate, kFinestResolution);
    longestFrame = longest;
    hopLength = static_cast<int32_t>(rate / kAnalysesPerSecond);

    sampleRing.reset(new double[longest]());
    correlation.reset(new double[longest]());
    fftWork.reset(new int32_t[fftWorkLength(longest)]());
    fftTable.reset(new double[longest / 2]());
    fftWork[0] = 0;
    frame.reset(new double[longest]());
    // Builds the transform's tables for the longest length, which serve every shorter one;
    // the frame's content is overwritten by every analysis.
    realFft(longest, 1, frame.get(), fftWork.get(), fftTable.get());

    for (int k = 0; k < kFrameLengthCount; ++k) {
        const int32_t n = longest >> k;
        hannWindows[k].reset(new double[n]);
        for (int32_t j = 0; j < n; ++j)
            hannWindows[k][j] = 0.5 - 0.5 * std::cos(j * kTwoPi / n);
    }
    applyResolution();
}

void AnalysisEngine::releaseBuffers() {
    sampleRing.reset();
    frame.reset();
    correlation.reset();
    fftWork.reset();
    fftTable.reset();
    for (auto& window : hannWindows)
        window.reset();
    hannWindow = nullptr;
}

void AnalysisEngine::applyResolution() {
    // The parameters give 10, 15 or 30 Hz; a resolution outside them written directly is
    // held to the lengths the arrays serve.
    const int32_t wanted =
        frameLengthFor(engineSampleRate, resolution.load(std::memory_order_relaxed));
    int k = 0;
    while (k + 1 < kFrameLengthCount && (longestFrame >> k) > wanted)
        ++k;
    const int32_t n = longestFrame >> k;
    fftSize = n;
    hannWindow = hannWindows[k].get();
    hopCounter = 0;
    // The slots that no sample has reached yet read as silence (see ringFilled).
    ringWriteIndex = 0;
    ringFilled = false;
    clearHistory();
}

PitchCents AnalysisEngine::measureFrame() {
    const int32_t n = fftSize;
    hopCounter = 0;

    // Oldest sample first: the ring from the write index to its end, then from its start.
    // Before the ring has filled, the older part is the slots no sample has reached: silence.
    const int32_t olderCount = n - ringWriteIndex;
    if (ringFilled) {
        for (int32_t i = 0; i < olderCount; ++i)
            frame[i] = sampleRing[ringWriteIndex + i] * hannWindow[i];
    } else {
        std::fill(frame.get(), frame.get() + olderCount, 0.0);
    }
    for (int32_t i = olderCount; i < n; ++i)
        frame[i] = sampleRing[i - olderCount] * hannWindow[i];

    realFft(n, 1, frame.get(), fftWork.get(), fftTable.get());

    correlation[0] = frame[0] * frame[0];
    correlation[1] = frame[1] * frame[1];
    for (int32_t k = 2; k < n; k += 2) {
        correlation[k] = frame[k] * frame[k] + frame[k + 1] * frame[k + 1];
        correlation[k + 1] = 0.0;
    }
    realFft(n, -1, correlation.get(), fftWork.get(), fftTable.get());

    // A level that is not a number fails the comparison and so the gate.
    const double level = std::sqrt(correlation[0] * levelScale / n);
    if (level >= threshold.load(std::memory_order_relaxed))
        return estimatePitch(frameView(), searchRange());
    return kNoPitch;
}

} // namespace kelvatone::analysis
