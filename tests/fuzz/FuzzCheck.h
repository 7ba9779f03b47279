// What all the fuzz targets share: a check that aborts so libFuzzer reports the input that
// broke it, the checks every reader's answer gets, and floats taken bit for bit from the
// input. What the plug-in targets share is in FuzzEffect.h, the audio file targets' in
// FuzzAudio.h.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kelvatone::fuzz {

// Aborts with a message: libFuzzer treats the abort as a crash and saves the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The same samples, bit for bit (NaNs and signed zeros included).
inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// A reader's reason for rejecting an input: something to show, on one line.
inline void requireOneLineReason(const std::string& error) {
    require(!error.empty() && error.find('\n') == std::string::npos,
            "a rejected input without a one-line reason");
}

// The next four bytes of the input as a float, so NaN, infinities and denormals arrive too.
inline float floatFromBits(FuzzedDataProvider& input) {
    const uint32_t bits = input.ConsumeIntegral<uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

} // namespace kelvatone::fuzz
