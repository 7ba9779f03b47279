// The packed real transform against FFTW at the engine's frame lengths.
#include "analysis/RealFft.h"
#include "tests/support/Signals.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace kelvatone::analysis;
using kelvatone::testsupport::largestMagnitude;
using kelvatone::testsupport::randomSignal;

namespace {

// Rounding error relative to the largest magnitude of the result.
constexpr double kRelativeTolerance = 1e-12;

class RealFftAgainstFftw : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        n = GetParam();
        work.assign(static_cast<size_t>(std::sqrt(n * 0.5) + 1.0) + 2, 0);
        table.assign(n / 2, 0.0);
        real = fftw_alloc_real(n);
        spectrum = fftw_alloc_complex(n / 2 + 1);
    }
    void TearDown() override {
        fftw_free(spectrum);
        fftw_free(real);
    }

    int n = 0;
    std::vector<int32_t> work;
    std::vector<double> table;
    double* real = nullptr;
    fftw_complex* spectrum = nullptr;
};

// FFTW's forward kernel is e^(-...): our sine terms are the negated imaginary parts.
TEST_P(RealFftAgainstFftw, Forward) {
    const std::vector<double> x = randomSignal(n, 11u + n);
    std::vector<double> a = x;
    realFft(n, 1, a.data(), work.data(), table.data());

    fftw_plan plan = fftw_plan_dft_r2c_1d(n, real, spectrum, FFTW_ESTIMATE);
    std::copy(x.begin(), x.end(), real);
    fftw_execute(plan);
    fftw_destroy_plan(plan);

    const double tolerance = kRelativeTolerance * largestMagnitude(a) * std::log2(n);
    EXPECT_NEAR(a[0], spectrum[0][0], tolerance);
    EXPECT_NEAR(a[1], spectrum[n / 2][0], tolerance);
    for (int k = 1; k < n / 2; ++k) {
        ASSERT_NEAR(a[2 * k], spectrum[k][0], tolerance) << "bin " << k;
        ASSERT_NEAR(a[2 * k + 1], -spectrum[k][1], tolerance) << "bin " << k;
    }
}

// FFTW's c2r sums the whole Hermitian spectrum: twice our inverse.
TEST_P(RealFftAgainstFftw, Inverse) {
    const std::vector<double> packed = randomSignal(n, 23u + n);
    std::vector<double> a = packed;
    realFft(n, -1, a.data(), work.data(), table.data());

    fftw_plan plan = fftw_plan_dft_c2r_1d(n, spectrum, real, FFTW_ESTIMATE);
    spectrum[0][0] = packed[0];
    spectrum[0][1] = 0.0;
    spectrum[n / 2][0] = packed[1];
    spectrum[n / 2][1] = 0.0;
    for (int k = 1; k < n / 2; ++k) {
        spectrum[k][0] = packed[2 * k];
        spectrum[k][1] = -packed[2 * k + 1];
    }
    fftw_execute(plan);
    fftw_destroy_plan(plan);

    const double tolerance = kRelativeTolerance * largestMagnitude(a) * std::log2(n);
    for (int j = 0; j < n; ++j)
        ASSERT_NEAR(a[j], 0.5 * real[j], tolerance) << "sample " << j;
}

INSTANTIATE_TEST_SUITE_P(EngineSizes, RealFftAgainstFftw, ::testing::Values(2048, 4096, 8192));

} // namespace
