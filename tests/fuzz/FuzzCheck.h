// What the fuzz targets share: a check that aborts so libFuzzer reports the input that
// broke it, and floats taken bit for bit from the input. The plug-in targets open one effect
// instance per input through the fake host (tests/support/FakeHost.h), so a finding reproduces from
// its input alone.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvatone::fuzz {

// Aborts with a message: libFuzzer treats the abort as a crash and saves the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The next four bytes of the input as a float, so NaN, infinities and denormals arrive too.
inline float floatFromBits(FuzzedDataProvider& input) {
    const uint32_t bits = input.ConsumeIntegral<uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

} // namespace kelvatone::fuzz
