// realFft forward + inverse against FFTW's r2c + c2r in the same run, and analyseFrame for a
// voiced and a silent frame at each frame length.
#include "bench/AnalysisBench.h"
#include "bench/FrameSetup.h"

#include "analysis/AnalysisEngine.h"
#include "analysis/RealFft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace kelvatone::analysis;

namespace kelvatone::bench {

namespace {

const int kFftSizes[] = {2048, 4096, 8192};
const char kOursName[] = "BM_RealFftForwardInverse";
const char kFftwName[] = "BM_FftwR2cC2r";

std::vector<double> randomSignal(int n) {
    std::mt19937 generator(12345u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x)
        v = uniform(generator);
    return x;
}

// Each round transforms a fresh copy of the input, since the round trip scales it by n/2.
void BM_RealFftForwardInverse(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> input = randomSignal(n);
    std::vector<double> data(n);
    std::vector<int32_t> work(static_cast<size_t>(std::sqrt(n * 0.5) + 1.0) + 2, 0);
    std::vector<double> table(n / 2);
    realFft(n, 1, data.data(), work.data(), table.data());
    for (auto _ : state) {
        std::memcpy(data.data(), input.data(), n * sizeof(double));
        realFft(n, 1, data.data(), work.data(), table.data());
        realFft(n, -1, data.data(), work.data(), table.data());
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
}

// Out of place, as FFTW's real transforms are used: r2c into a spectrum, c2r back. Each
// round copies the signal into the input array as the round above does, so both loops
// move the same data besides their transforms.
void BM_FftwR2cC2r(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* input = fftw_alloc_real(n);
    double* output = fftw_alloc_real(n);
    fftw_complex* spectrum = fftw_alloc_complex(n / 2 + 1);
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, input, spectrum, FFTW_MEASURE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum, output, FFTW_MEASURE);
    const std::vector<double> signal = randomSignal(n);
    for (auto _ : state) {
        std::memcpy(input, signal.data(), n * sizeof(double));
        fftw_execute(forward);
        fftw_execute(inverse);
        benchmark::DoNotOptimize(output);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(spectrum);
    fftw_free(output);
    fftw_free(input);
}

void analyseFrameBenchmark(benchmark::State& state, double amplitude) {
    AnalysisEngine engine;
    prepareFrame(engine, static_cast<int>(state.range(0)), amplitude);
    for (auto _ : state) {
        engine.analyseFrame();
        benchmark::DoNotOptimize(engine.currentPitch.load());
    }
}

void BM_AnalyseFrameVoiced(benchmark::State& state) {
    analyseFrameBenchmark(state, 0.5);
}
void BM_AnalyseFrameSilent(benchmark::State& state) {
    analyseFrameBenchmark(state, 0.0);
}

void addSizes(benchmark::internal::Benchmark* b) {
    for (int n : kFftSizes)
        b->Arg(n);
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_RealFftForwardInverse)->Apply(addSizes);
BENCHMARK(BM_FftwR2cC2r)->Apply(addSizes);
BENCHMARK(BM_AnalyseFrameVoiced)->Apply(addSizes);
BENCHMARK(BM_AnalyseFrameSilent)->Apply(addSizes);

} // namespace

void printFftRatios(const SummaryReporter& reporter) {
    for (int n : kFftSizes) {
        const std::string size = "/" + std::to_string(n);
        const double ours = reporter.medianMicroseconds(kOursName + size);
        const double fftw = reporter.medianMicroseconds(kFftwName + size);
        if (ours <= 0.0 || fftw <= 0.0)
            continue;
        std::printf("realFft / FFTW at n = %d: %.2f (median CPU time)\n", n, ours / fftw);
        std::printf("RESULT fft_ratio/%d ratio %.3f\n", n, ours / fftw);
    }
}

} // namespace kelvatone::bench
