// The rate converter: untouched at 44100 Hz; at the other rates, sines of the whole passband
// land on the 44100 Hz grid, tones above the analysis's Nyquist frequency are removed, and the
// delay stays below one analysis hop.
#include "analysis/RateConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace kelvatone::analysis;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kAnalysisRate = RateConverter::kAnalysisRate;
// Largest error of a converted passband sine of amplitude 1 against the same sine sampled at
// 44100 Hz: ripple and timing together, -94 dB.
constexpr double kPassbandError = 2e-5;
// Largest RMS, relative to the input's, that a tone above 22050 Hz leaves after conversion
// (-90 dB).
constexpr double kAliasShare = 3.2e-5;
// The converter's delay must stay below one analysis hop (1/30 s); it is about 1.6 ms.
constexpr double kHopSeconds = 1.0 / 30.0;
// Input samples that the filter's start-up may affect (more than its length at any rate).
constexpr int kSettleOutputs = 2000;

std::vector<double> convert(RateConverter& converter, double rate, double frequency,
                            double seconds) {
    std::vector<double> out;
    const long count = static_cast<long>(seconds * rate);
    for (long i = 0; i < count; ++i)
        converter.push(std::sin(kTwoPi * frequency * static_cast<double>(i) / rate),
                       [&out](double sample) { out.push_back(sample); });
    return out;
}

TEST(RateConverter, PassesEverySampleThroughUntouchedAt44100) {
    RateConverter converter;
    converter.configure(kAnalysisRate);
    EXPECT_TRUE(converter.isPassThrough());
    EXPECT_EQ(converter.delaySeconds(), 0.0);
    std::mt19937 generator(7u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int i = 0; i < 1000; ++i) {
        const double sample = uniform(generator);
        int emitted = 0;
        converter.push(sample, [&](double out) {
            EXPECT_EQ(out, sample);
            ++emitted;
        });
        EXPECT_EQ(emitted, 1);
    }
}

class HostRates : public ::testing::TestWithParam<double> {};

TEST_P(HostRates, ConvertsToExactly44100WithADelayBelowOneHop) {
    const double rate = GetParam();
    RateConverter converter;
    converter.configure(rate);
    EXPECT_FALSE(converter.isPassThrough());
    EXPECT_EQ(converter.outputRate(), kAnalysisRate);
    EXPECT_GT(converter.delaySeconds(), 0.0);
    EXPECT_LT(converter.delaySeconds(), kHopSeconds);
    // One second in gives one second out, less the delay.
    const std::vector<double> out = convert(converter, rate, 440.0, 1.0);
    const double expected = kAnalysisRate * (1.0 - converter.delaySeconds());
    EXPECT_NEAR(static_cast<double>(out.size()), expected, 1.0);
}

TEST_P(HostRates, PassbandSinesLandOnThe44100Grid) {
    const double rate = GetParam();
    RateConverter converter;
    converter.configure(rate);
    const double passbandEdge = RateConverter::kPassbandShare * std::min(rate, kAnalysisRate) / 2;
    for (double frequency : {30.0, 110.0, 440.0, 1000.0, 3000.0, 8000.0, 15000.0, passbandEdge}) {
        if (frequency > passbandEdge)
            continue;
        converter.restart();
        const std::vector<double> out = convert(converter, rate, frequency, 0.2);
        double worst = 0.0;
        for (size_t n = kSettleOutputs; n < out.size(); ++n)
            worst = std::max(worst,
                             std::abs(out[n] - std::sin(kTwoPi * frequency *
                                                        static_cast<double>(n) / kAnalysisRate)));
        EXPECT_LT(worst, kPassbandError) << frequency << " Hz at " << rate << " Hz";
    }
}

class FasterHostRates : public ::testing::TestWithParam<double> {};

TEST_P(FasterHostRates, TonesAboveTheAnalysisNyquistFrequencyAreRemoved) {
    const double rate = GetParam();
    RateConverter converter;
    converter.configure(rate);
    const double highest = std::min(rate / 2 * 0.98, 60000.0);
    for (double frequency = kAnalysisRate / 2 + 10.0; frequency < highest; frequency *= 1.07) {
        converter.restart();
        const std::vector<double> out = convert(converter, rate, frequency, 0.1);
        double energy = 0.0;
        for (size_t n = kSettleOutputs; n < out.size(); ++n)
            energy += out[n] * out[n];
        const double rms = std::sqrt(energy / static_cast<double>(out.size() - kSettleOutputs));
        EXPECT_LT(rms / std::sqrt(0.5), kAliasShare) << frequency << " Hz at " << rate << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Common, FasterHostRates,
                         ::testing::Values(48000.0, 88200.0, 96000.0, 176400.0, 192000.0,
                                           384000.0));

TEST_P(HostRates, RestartForgetsEverythingBefore) {
    const double rate = GetParam();
    RateConverter fresh;
    fresh.configure(rate);
    const std::vector<double> expected = convert(fresh, rate, 440.0, 0.05);
    RateConverter reused;
    reused.configure(rate);
    convert(reused, rate, 1234.5, 0.03);
    reused.restart();
    EXPECT_EQ(convert(reused, rate, 440.0, 0.05), expected);
}

INSTANTIATE_TEST_SUITE_P(Common, HostRates,
                         ::testing::Values(22050.0, 32000.0, 48000.0, 88200.0, 96000.0, 176400.0,
                                           192000.0, 384000.0));

TEST(RateConverter, UncommonRatesGetTheNearestRatioWithinThePhaseBound) {
    // 44100 / 44101 and 47999 / 44100 need more phases than the bound allows.
    for (double rate : {44101.0, 47999.0, 50000.5}) {
        RateConverter converter;
        converter.configure(rate);
        EXPECT_LE(converter.phaseCount(), RateConverter::kMaxPhases);
        const double cents = 1200.0 * std::log2(converter.outputRate() / kAnalysisRate);
        EXPECT_LT(std::abs(cents), 0.1) << rate;
    }
}

TEST(RateConverter, AcceptsTheRatesOfTheEngineRange) {
    EXPECT_TRUE(RateConverter::supportsInputRate(22050.0));
    EXPECT_TRUE(RateConverter::supportsInputRate(384000.0));
    for (double rate : {0.0, -48000.0, 22049.0, 384001.0, std::nan("")})
        EXPECT_FALSE(RateConverter::supportsInputRate(rate)) << rate;
}

} // namespace
