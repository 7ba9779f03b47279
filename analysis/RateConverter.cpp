#include "analysis/RateConverter.h"

#include <algorithm>
#include <cmath>

namespace kelvatone::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Kaiser's design rules: the window's shape for an attenuation above 50 dB, and the length
// (in samples of the rate the filter runs at) for a transition of a given relative width.
constexpr double kKaiserBetaSlope = 0.1102;
constexpr double kKaiserBetaOffset = 8.7;
constexpr double kKaiserLengthOffset = 7.95;
constexpr double kKaiserLengthSlope = 14.36;
// The modified Bessel series stops when a term adds less than this share.
constexpr double kBesselPrecision = 1e-17;

// The zeroth-order modified Bessel function of the first kind, by its power series.
double besselI0(double x) {
    const double quarterSquare = x * x / 4.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; term > kBesselPrecision * sum; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

double sinc(double x) {
    return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
}

struct Ratio {
    int32_t phases;
    int32_t step;
};

// The fraction phases/step nearest to outputRate/inputRate with at most kMaxPhases phases;
// of equally near ones, the one with the fewest phases (so exact ratios come out reduced).
Ratio nearestRatio(double inputRate, double outputRate) {
    Ratio best{1, 1};
    double bestError = HUGE_VAL;
    for (int32_t l = 1; l <= RateConverter::kMaxPhases; ++l) {
        const double m = std::max(1.0, std::round(l * inputRate / outputRate));
        const double error = std::abs(l * inputRate - m * outputRate) / m;
        if (error < bestError) {
            bestError = error;
            best = {l, static_cast<int32_t>(m)};
        }
        if (error == 0.0)
            break;
    }
    return best;
}

} // namespace

bool RateConverter::supportsInputRate(double rate) {
    return rate >= kMinInputRate && rate <= kMaxInputRate;
}

void RateConverter::configure(double inputRate, double outputRate) {
    const Ratio ratio = nearestRatio(inputRate, outputRate);
    inRate = inputRate;
    phases = ratio.phases;
    step = ratio.step;
    passThrough = phases == step;
    if (passThrough) {
        taps = 0;
        delayOutputs = 0;
        coefficients.reset();
        history.reset();
    } else {
        designFilter(std::min(inputRate, outputRate));
    }
    restart();
}

void RateConverter::designFilter(double lowerRate) {
    const double nyquist = lowerRate / 2.0;
    const double transition = nyquist * (1.0 - kPassbandShare);
    const double cutoff = nyquist - transition / 2.0;
    const double beta = kKaiserBetaSlope * (kStopbandDecibels - kKaiserBetaOffset);
    const double inputLength =
        (kStopbandDecibels - kKaiserLengthOffset) / (kKaiserLengthSlope * transition / inRate);

    // The prototype runs at L x the input rate. Its centre lies on a whole number of output
    // samples, so that the converted stream is the input sampled exactly on the output grid,
    // delayed by delayOutputs samples; starting the stream that many samples late puts its
    // samples at exactly the instants a recording at the output rate would have.
    const double halfLength = (inputLength * phases - 1.0) / 2.0;
    delayOutputs = static_cast<int32_t>(std::ceil(halfLength / step));
    const int32_t centre = delayOutputs * step;
    const int32_t length = 2 * centre + 1;
    taps = (length + phases - 1) / phases;
    taps = (taps + kLanes - 1) / kLanes * kLanes;

    const double normalisedCutoff = 2.0 * cutoff / (inRate * phases);
    const double windowScale = besselI0(beta);
    coefficients.reset(new double[static_cast<size_t>(phases) * taps]());
    double sum = 0.0;
    for (int32_t n = 0; n < length; ++n) {
        const double offset = n - centre;
        const double edge = offset / centre;
        const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - edge * edge)));
        const double value =
            normalisedCutoff * sinc(normalisedCutoff * offset) * window / windowScale;
        // Prototype tap n belongs to phase n mod L and weighs the (n div L)-th newest input.
        const int32_t phase = n % phases;
        const int32_t age = n / phases;
        coefficients[static_cast<size_t>(phase) * taps + (taps - 1 - age)] = value;
        sum += value;
    }
    // Every phase sums to about 1: the gain at DC is 1 for the converted stream.
    const double gain = phases / sum;
    for (size_t i = 0; i < static_cast<size_t>(phases) * taps; ++i)
        coefficients[i] *= gain;
    history.reset(new double[2 * static_cast<size_t>(taps)]);
}

void RateConverter::restart() {
    if (history)
        std::fill(history.get(), history.get() + 2 * static_cast<size_t>(taps), 0.0);
    historyPosition = 0;
    // The first delayOutputs output samples would lie before the input's first sample.
    nextPhase = delayOutputs * step;
}

double RateConverter::delaySeconds() const {
    return delayOutputs / outputRate();
}

} // namespace kelvatone::analysis
