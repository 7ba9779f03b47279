// Test signals as functions of the sample index, and the measures the tests take of them.
// Pure functions; any thread.
#pragma once

#include "analysis/Units.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace kelvatone::testsupport {

constexpr double kPi = 3.14159265358979323846;

// Sum of harmonics: amplitudes[h] is the amplitude of harmonic h + 1 of f0 (Hz), sample i
// at rate (Hz).
inline std::function<double(long)> harmonicTone(double rate, double f0,
                                                std::vector<double> amplitudes) {
    return [=](long i) {
        double value = 0.0;
        for (size_t h = 0; h < amplitudes.size(); ++h)
            value += amplitudes[h] * std::sin(2.0 * kPi * f0 * static_cast<double>(h + 1) *
                                              static_cast<double>(i) / rate);
        return value;
    };
}

inline std::function<double(long)> sine(double rate, double frequency, double amplitude) {
    return harmonicTone(rate, frequency, {amplitude});
}

// The middle value (the upper one of an even count); values must not be empty.
inline double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// n samples of noise uniform in [-1, 1), the same for the same seed.
inline std::vector<double> randomSignal(int n, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> x(static_cast<size_t>(n));
    for (double& v : x)
        v = uniform(generator);
    return x;
}

// The largest absolute value among `values`; 0 for none.
inline double largestMagnitude(const std::vector<double>& values) {
    double largest = 0.0;
    for (double x : values)
        largest = std::max(largest, std::fabs(x));
    return largest;
}

// Cents above C0 of a frequency (Hz), not rounded.
inline double centsOf(double frequency) {
    return 1200.0 * std::log2(frequency / analysis::c0Frequency);
}

} // namespace kelvatone::testsupport
