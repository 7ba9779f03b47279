// realFft forward + inverse against FFTW's r2c + c2r in the same run, and analyseFrame for a
// voiced and a silent frame at each frame length. Prints the ratio ours / FFTW per size.
#include "analysis/AnalysisEngine.h"
#include "analysis/RealFft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
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

// Out of place, as FFTW's real transforms are used: r2c into a spectrum, c2r back.
void BM_FftwR2cC2r(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* input = fftw_alloc_real(n);
    double* output = fftw_alloc_real(n);
    fftw_complex* spectrum = fftw_alloc_complex(n / 2 + 1);
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, input, spectrum, FFTW_MEASURE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum, output, FFTW_MEASURE);
    const std::vector<double> signal = randomSignal(n);
    std::memcpy(input, signal.data(), n * sizeof(double));
    for (auto _ : state) {
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

// Frame lengths 2048, 4096, 8192 are resolutions 30, 15, 10 Hz at 44100 Hz.
float resolutionForFrameLength(int n) {
    return n == 2048 ? 30.0f : n == 4096 ? 15.0f : 10.0f;
}

void analyseFrameBenchmark(benchmark::State& state, double amplitude) {
    constexpr double kRate = 44100.0;
    constexpr double kToneHz = 440.0;
    AnalysisEngine engine;
    engine.resolution.store(resolutionForFrameLength(static_cast<int>(state.range(0))));
    engine.configure(kRate);
    for (int i = 0; i < engine.fftSize; ++i)
        engine.pushSample(amplitude * std::sin(2.0 * kPi * kToneHz * i / kRate));
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

// Keeps the CPU time per iteration of every benchmark run for the ratios: on a shared
// machine it is less disturbed than the wall time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        for (int n : kFftSizes) {
            const auto ours = cpuTimes.find(std::string(kOursName) + "/" + std::to_string(n));
            const auto fftw = cpuTimes.find(std::string(kFftwName) + "/" + std::to_string(n));
            if (ours == cpuTimes.end() || fftw == cpuTimes.end())
                continue;
            std::printf("realFft / FFTW at n = %d: %.2f\n", n, ours->second / fftw->second);
        }
    }

private:
    std::map<std::string, double> cpuTimes;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
