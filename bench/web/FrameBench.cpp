// analyseFrame in WebAssembly, for bench/compare.sh: the frame of BM_AnalyseFrameVoiced,
// analysed as often as the caller (bench/web/frame-bench.js, in Node) asks and times.
#include "bench/FrameSetup.h"

#include <emscripten/emscripten.h>

namespace {

// The one engine of the benchmark; Node's one thread.
kelvatone::analysis::AnalysisEngine* engine = nullptr;

} // namespace

// Configures the engine for frame length n with the voiced frame. Not timed.
extern "C" EMSCRIPTEN_KEEPALIVE void kv_bench_prepare(int n) {
    if (!engine)
        engine = new kelvatone::analysis::AnalysisEngine();
    kelvatone::bench::prepareFrame(*engine, n, 0.5);
}

// Analyses the frame `count` times; answers the last pitch, so that nothing is left out.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_bench_frames(int count) {
    for (int i = 0; i < count; ++i)
        engine->analyseFrame();
    return engine->currentPitch.load();
}
