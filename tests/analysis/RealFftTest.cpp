// The packed real transform against a direct O(n^2) evaluation of its defining sums.
#include "analysis/RealFft.h"
#include "analysis/RealFftStages.h"
#include "tests/support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace kelvatone::analysis;
using kelvatone::testsupport::largestMagnitude;
using kelvatone::testsupport::randomSignal;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Rounding error of the fast transform relative to the largest spectrum magnitude.
constexpr double kRelativeTolerance = 1e-12;

struct FftAreas {
    explicit FftAreas(int n)
        : work(static_cast<size_t>(std::sqrt(n * 0.5) + 1.0) + 2, 0), table(n / 2 + 1, 0.0) {}
    std::vector<int32_t> work;
    std::vector<double> table;
};

// The packed spectrum straight from its definition.
std::vector<double> directForward(const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    std::vector<double> a(n, 0.0);
    for (int j = 0; j < n; ++j) {
        a[0] += x[j];
        a[1] += (j % 2 == 0) ? x[j] : -x[j];
    }
    for (int k = 1; k < n / 2; ++k) {
        for (int j = 0; j < n; ++j) {
            const double angle = 2.0 * kPi * static_cast<double>((int64_t(j) * k) % n) / n;
            a[2 * k] += x[j] * std::cos(angle);
            a[2 * k + 1] += x[j] * std::sin(angle);
        }
    }
    return a;
}

// The unnormalised inverse straight from its definition.
std::vector<double> directInverse(const std::vector<double>& a) {
    const int n = static_cast<int>(a.size());
    std::vector<double> x(n);
    for (int j = 0; j < n; ++j) {
        double sum = (a[0] + ((j % 2 == 0) ? a[1] : -a[1])) / 2.0;
        for (int k = 1; k < n / 2; ++k) {
            const double angle = 2.0 * kPi * static_cast<double>((int64_t(j) * k) % n) / n;
            sum += a[2 * k] * std::cos(angle) + a[2 * k + 1] * std::sin(angle);
        }
        x[j] = sum;
    }
    return x;
}

void expectClose(const std::vector<double>& actual, const std::vector<double>& expected) {
    const double tolerance = kRelativeTolerance * std::max(1.0, largestMagnitude(expected));
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        ASSERT_NEAR(actual[i], expected[i], tolerance) << "at index " << i;
}

class RealFftSizes : public ::testing::TestWithParam<int> {};

TEST_P(RealFftSizes, ForwardAndInverseMatchTheDefiningSums) {
    const int n = GetParam();
    FftAreas areas(n);
    const std::vector<double> x = randomSignal(n, 17u + n);

    std::vector<double> a = x;
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    expectClose(a, directForward(x));

    const std::vector<double> spectrum = randomSignal(n, 91u + n);
    std::vector<double> b = spectrum;
    realFft(n, -1, b.data(), areas.work.data(), areas.table.data());
    expectClose(b, directInverse(spectrum));
}

TEST_P(RealFftSizes, RoundTripGivesHalfTheLengthTimesTheInput) {
    const int n = GetParam();
    FftAreas areas(n);
    const std::vector<double> x = randomSignal(n, 5u + n);
    std::vector<double> a = x;
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    realFft(n, -1, a.data(), areas.work.data(), areas.table.data());
    std::vector<double> expected(n);
    for (int j = 0; j < n; ++j)
        expected[j] = x[j] * (n / 2);
    expectClose(a, expected);
}

TEST_P(RealFftSizes, ImpulseGivesAFlatSpectrum) {
    const int n = GetParam();
    FftAreas areas(n);
    std::vector<double> a(n, 0.0);
    a[0] = 1.0;
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    std::vector<double> expected(n, 0.0);
    for (int k = 0; k < n; k += 2)
        expected[k] = 1.0;
    expected[1] = 1.0;
    expectClose(a, expected);
}

TEST(RealFftSine, SineOfTheFirstBinHasAPositiveSineTerm) {
    for (int n = 4; n <= 1024; n *= 2) {
        FftAreas areas(n);
        std::vector<double> a(n);
        for (int j = 0; j < n; ++j)
            a[j] = std::sin(2.0 * kPi * j / n);
        realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
        std::vector<double> expected(n, 0.0);
        expected[3] = n / 2.0;
        expectClose(a, expected);
    }
}

TEST_P(RealFftSizes, InverseOfAPowerSpectrumIsSymmetric) {
    const int n = GetParam();
    FftAreas areas(n);
    std::vector<double> a = randomSignal(n, 33u + n);
    for (int k = 3; k < n; k += 2)
        a[k] = 0.0;
    realFft(n, -1, a.data(), areas.work.data(), areas.table.data());
    const double tolerance = kRelativeTolerance * std::max(1.0, largestMagnitude(a));
    for (int m = 1; m < n / 2; ++m)
        ASSERT_NEAR(a[m], a[n - m], tolerance) << "lag " << m;
}

INSTANTIATE_TEST_SUITE_P(SmallSizes, RealFftSizes,
                         ::testing::Values(2, 4, 8, 16, 32, 64, 128, 256, 512, 1024));

TEST(RealFftTables, FirstCallBuildsBothTablesAndARepeatRebuildsNothing) {
    const int n = 64;
    FftAreas areas(n);
    std::vector<double> a = randomSignal(n, 1u);
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    EXPECT_EQ(areas.work[0], n / 4);
    EXPECT_EQ(areas.work[1], n / 4);

    // Poisoned tables stay poisoned when nothing is rebuilt: the next result shows it.
    const std::vector<double> builtTable = areas.table;
    for (double& t : areas.table)
        t = 0.0;
    std::vector<double> b = randomSignal(n, 2u);
    realFft(n, 1, b.data(), areas.work.data(), areas.table.data());
    EXPECT_EQ(areas.work[0], n / 4);
    for (double t : areas.table)
        EXPECT_EQ(t, 0.0);

    areas.table = builtTable;
    std::vector<double> c = randomSignal(n, 2u);
    realFft(n, 1, c.data(), areas.work.data(), areas.table.data());
    expectClose(c, directForward(randomSignal(n, 2u)));
}

TEST(RealFftTables, ShorterTransformsReuseTheLongerTables) {
    const int longest = 256;
    FftAreas areas(longest);
    std::vector<double> a(longest, 0.0);
    realFft(longest, 1, a.data(), areas.work.data(), areas.table.data());
    const std::vector<double> builtTable = areas.table;

    for (int n = 8; n < longest; n *= 2) {
        const std::vector<double> x = randomSignal(n, 7u + n);
        std::vector<double> b = x;
        realFft(n, 1, b.data(), areas.work.data(), areas.table.data());
        expectClose(b, directForward(x));
        realFft(n, -1, b.data(), areas.work.data(), areas.table.data());
        for (int j = 0; j < n; ++j)
            ASSERT_NEAR(b[j], x[j] * (n / 2), 1e-12 * n) << "n " << n << " index " << j;
    }
    EXPECT_EQ(areas.work[0], longest / 4);
    EXPECT_EQ(areas.table, builtTable);
}

TEST(RealFftTables, LongerTablesGiveTheSameBitsAsTablesOfTheLengthItself) {
    // The engine builds its tables once for its longest frame and transforms shorter frames
    // with them: their results must not depend on which tables they got.
    const int longest = 8192;
    FftAreas longTables(longest);
    std::vector<double> scratch(longest, 0.0);
    realFft(longest, 1, scratch.data(), longTables.work.data(), longTables.table.data());
    for (int n : {longest / 2, longest / 4}) {
        FftAreas ownTables(n);
        const std::vector<double> x = randomSignal(n, 11u + n);
        std::vector<double> withLong = x;
        std::vector<double> withOwn = x;
        for (int direction : {1, -1}) {
            realFft(n, direction, withLong.data(), longTables.work.data(), longTables.table.data());
            realFft(n, direction, withOwn.data(), ownTables.work.data(), ownTables.table.data());
            EXPECT_EQ(withLong, withOwn) << "n " << n << " direction " << direction;
        }
    }
}

TEST(RealFftTables, ALongerTransformRebuildsTheTables) {
    FftAreas areas(512);
    std::vector<double> a(512, 0.0);
    realFft(64, 1, a.data(), areas.work.data(), areas.table.data());
    EXPECT_EQ(areas.work[0], 16);
    const std::vector<double> x = randomSignal(512, 3u);
    a = x;
    realFft(512, 1, a.data(), areas.work.data(), areas.table.data());
    EXPECT_EQ(areas.work[0], 128);
    EXPECT_EQ(areas.work[1], 128);
    expectClose(a, directForward(x));
}

TEST(RealFftTables, ZeroInTheFirstWorkEntryForcesARebuild) {
    const int n = 128;
    FftAreas areas(n);
    std::vector<double> a(n, 0.0);
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    for (double& t : areas.table)
        t = 0.0;
    areas.work[0] = 0;
    const std::vector<double> x = randomSignal(n, 4u);
    a = x;
    realFft(n, 1, a.data(), areas.work.data(), areas.table.data());
    expectClose(a, directForward(x));
}

} // namespace

namespace {

// Why this build on this processor runs no wide stages, or null when it runs them: the
// Linux x86-64 build has them, for processors with AVX.
const char* whyNoWideStages() {
#if defined(_WIN32) || !defined(__x86_64__)
    return "this build has no wide stages (only the Linux x86-64 build has them)";
#else
    return __builtin_cpu_supports("avx") ? nullptr : "this processor has no AVX";
#endif
}

// The vectorised stages chosen at run time must give exactly the bits of the portable ones,
// so that results never depend on the processor. Without them both calls would run the
// portable stages, so the comparison is skipped there, and each call says which ran.
TEST(RealFftDeterminism, WideAndPortableStagesAgreeToTheBit) {
    if (const char* reason = whyNoWideStages())
        GTEST_SKIP() << reason << ": only the portable stages run";
    // From n = 32 on, the length at which both wide stages take over.
    for (int n = 32; n <= 8192; n *= 2) {
        FftAreas areas(n);
        const std::vector<double> x = randomSignal(n, 77u + n);
        std::vector<double> portable = x;
        std::vector<double> wide = x;
        for (int direction : {1, -1}) {
            ASSERT_FALSE(realFftWithStages(n, direction, portable.data(), areas.work.data(),
                                           areas.table.data(), false));
            ASSERT_TRUE(realFftWithStages(n, direction, wide.data(), areas.work.data(),
                                          areas.table.data(), true))
                << "the wide stages ran, n " << n;
            ASSERT_EQ(portable, wide) << "n " << n << " direction " << direction;
        }
    }
}

} // namespace
