// realFft in WebAssembly for tests/web/real-fft-wasm-test.js: the web build's transform (its
// SIMD stages) run on arrays the test writes into the module's memory, so that Node can
// check it against sums it evaluates itself.
#include "analysis/RealFft.h"

#include <emscripten/emscripten.h>

#include <cstdint>

namespace {

// The longest transform the test asks for: the engine's longest frame.
constexpr int kLongest = 8192;

// The areas of the one transform; Node's one thread.
double data[kLongest];
int32_t work[2 + kLongest];
double table[kLongest / 2];

} // namespace

// The address of the kLongest doubles the test writes its input into and reads back.
extern "C" EMSCRIPTEN_KEEPALIVE double* kv_fft_data() {
    return data;
}

// The longest length kv_fft_run accepts.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_fft_longest() {
    return kLongest;
}

// realFft(n, direction) on the first n doubles of the data, with tables kept between calls
// as the engine keeps them. 0 when done, 1 when n is not a power of two in 2..kLongest.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_fft_run(int n, int direction) {
    if (n < 2 || n > kLongest || (n & (n - 1)) != 0)
        return 1;
    kelvatone::analysis::realFft(n, direction, data, work, table);
    return 0;
}
