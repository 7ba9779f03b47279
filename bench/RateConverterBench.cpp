// The rate converter's cost per input sample at the common host rates: one block of a
// harmonic signal pushed through it, each output sample summed so that none is dropped.
#include "analysis/RateConverter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace kelvatone::analysis;

namespace kelvatone::bench {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Input samples per benchmark round: one second at the lowest converted rate.
constexpr int kBlockSamples = 48000;
constexpr double kToneHz = 220.0;

void BM_RateConverterPerInputSample(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    RateConverter converter;
    converter.configure(rate);
    std::vector<double> input(kBlockSamples);
    for (int i = 0; i < kBlockSamples; ++i)
        input[i] = 0.3 * std::sin(kTwoPi * kToneHz * i / rate) +
                   0.1 * std::sin(3.0 * kTwoPi * kToneHz * i / rate);
    double sum = 0.0;
    for (auto _ : state) {
        for (double sample : input)
            converter.push(sample, [&sum](double converted) { sum += converted; });
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBlockSamples);
    state.counters["taps"] = converter.tapsPerPhase();
}

} // namespace

BENCHMARK(BM_RateConverterPerInputSample)
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(88200)
    ->Arg(96000)
    ->Arg(192000)
    ->Unit(benchmark::kMicrosecond);

} // namespace kelvatone::bench
