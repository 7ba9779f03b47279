// A polyphase sample-rate converter that brings the host's audio to the analysis rate, so
// that the analysis runs at 44100 Hz whatever rate the host plays at: frame lengths, hop,
// level and readings then stay those of 44100 Hz.
//
// The conversion is the rational ratio L/M = outputRate/inputRate (L phases, step M):
// conceptually the input is raised L times, low-pass filtered and taken every M-th value.
// Output sample n is the input's value at n / outputRate seconds (band-limited), delivered
// delaySeconds() late: the same instants as a recording made at the output rate.
// The filter is a Kaiser-windowed sinc with its passband up to kPassbandShare of the lower
// rate's Nyquist frequency and its stopband from that Nyquist frequency on, so nothing
// above the lower Nyquist frequency folds into the band below it. At equal rates the
// converter passes every sample through unchanged (bit for bit).
//
// Units: rates in Hz; samples as double, unscaled (the filter's gain at DC is 1).
// Threads: configure allocates: a setting thread, never the audio thread, on a converter the
// audio thread cannot reach at that moment (the plug-in designs a new one and swaps it in
// while it holds the engine's guard). push and restart run on the thread that owns the
// stream (the audio thread) and allocate, lock and wait for nothing. Moving a converter
// moves its arrays without allocating.
#pragma once

#include <cstdint>
#include <memory>

namespace kelvatone::analysis {

class RateConverter {
public:
    // The analysis rate every input is converted to.
    static constexpr double kAnalysisRate = 44100.0;
    // The input rates configure accepts.
    static constexpr double kMinInputRate = 22050.0;
    static constexpr double kMaxInputRate = 384000.0;
    // Most phases a ratio may have: every common host rate (22.05 .. 384 kHz) needs at
    // most 441; other ratios are replaced by the nearest fraction within this bound.
    static constexpr int32_t kMaxPhases = 1024;
    // Passband edge as a share of the lower rate's Nyquist frequency (20 kHz of 22.05).
    static constexpr double kPassbandShare = 20000.0 / 22050.0;
    // Stopband attenuation of the filter design (dB); the passband ripple is as small.
    static constexpr double kStopbandDecibels = 100.0;

    // Whether configure accepts this input rate. any thread
    static bool supportsInputRate(double rate);

    // Designs the filter for inputRate -> outputRate and starts the stream silent.
    // Allocates. The rates must be in kMinInputRate..kMaxInputRate (the output rate too).
    void configure(double inputRate, double outputRate = kAnalysisRate);

    // Starts the stream silent again, as after configure, without allocating. Owner thread.
    void restart();

    // Takes one input sample and calls emit(double) once for every output sample that is
    // due by it (none, one or more). Owner thread; allocation-free.
    template <class Emit> void push(double sample, Emit&& emit) {
        if (passThrough) {
            emit(sample);
            return;
        }
        history[historyPosition] = sample;
        history[historyPosition + taps] = sample;
        if (++historyPosition == taps)
            historyPosition = 0;
        // The last `taps` inputs, oldest first.
        const double* window = &history[historyPosition];
        for (; nextPhase < phases; nextPhase += step)
            emit(filterAt(nextPhase, window));
        nextPhase -= phases;
    }

    bool isPassThrough() const { return passThrough; }
    double inputRate() const { return inRate; }
    // The converted stream's rate: outputRate, or the nearest rate the phase bound allows.
    double outputRate() const { return inRate * phases / step; }
    int32_t phaseCount() const { return phases; }
    int32_t stepLength() const { return step; }
    // Filter taps per output sample (0 when passing through).
    int32_t tapsPerPhase() const { return passThrough ? 0 : taps; }
    // How much later than the input the converted stream delivers a sample, in seconds: the
    // filter's group delay, a whole number of output samples (0 when passing through).
    double delaySeconds() const;

private:
    // One output sample: the phase's coefficients over the window, summed in four
    // independent lanes (taps is padded to a multiple of four with zero coefficients), so
    // that the compiler may keep them in one vector register. Owner thread.
    double filterAt(int32_t phase, const double* window) const {
        const double* c = &coefficients[static_cast<size_t>(phase) * taps];
        double lanes[kLanes] = {0.0, 0.0, 0.0, 0.0};
        for (int32_t k = 0; k < taps; k += kLanes) {
            for (int32_t lane = 0; lane < kLanes; ++lane)
                lanes[lane] += c[k + lane] * window[k + lane];
        }
        return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    }
    static constexpr int32_t kLanes = 4;
    void designFilter(double lowerRate);

    bool passThrough = true;
    double inRate = kAnalysisRate;
    int32_t phases = 1;
    int32_t step = 1;
    int32_t taps = 0;
    // coefficients[p * taps + k] weighs the k-th oldest of the window for phase p.
    std::unique_ptr<double[]> coefficients;
    // The last `taps` inputs, written twice (at i and i + taps) so that every window is
    // one contiguous run of `taps` values.
    std::unique_ptr<double[]> history;
    int32_t historyPosition = 0;
    // The filter's group delay in output samples.
    int32_t delayOutputs = 0;
    // Where the next output sample's filter ends relative to the newest input, in 1/L of
    // an input sample; it is due when this is below L.
    int32_t nextPhase = 0;
};

} // namespace kelvatone::analysis
