// One picture of the display per call, as the UI thread makes it for a frame: the shown
// history copied into a snapshot and drawn by the display's renderer on the Linux drawing
// layer, into a 640 x 360 memory device context; with an empty history, and with a full
// history of a sung trace and held-note bars (the demo take analysed at N = 8192 with its
// MIDI part).
#include "analysis/AnalysisEngine.h"
#include "editor/DisplayRenderer.h"
#include "tests/support/HostWindow.h"
#include "tools/demo/DemoTake.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::testsupport;
using namespace kelvatone::demo;

namespace kelvatone::bench {

namespace {

constexpr double kRate = kSampleRate;
constexpr float kHighResolution = 10.0f; // N = 8192 at 44100 Hz
constexpr int kNotesPerWord = 32;

HeldNoteSet notesHeldAt(double seconds) {
    HeldNoteSet set;
    for (const Note& note : melody())
        if (note.start <= seconds && seconds < note.end)
            set.words[note.midiNote / kNotesPerWord] |= 1u << (note.midiNote % kNotesPerWord);
    return set;
}

// Runs the demo take through the engine as the intake does, storing the part's held notes.
void analyseDemoTake(AnalysisEngine& engine) {
    const std::vector<float> take = renderTake();
    for (size_t i = 0; i < take.size(); ++i) {
        engine.pushSample(take[i]);
        if (engine.frameReady()) {
            engine.storeHeldNotes(notesHeldAt(static_cast<double>(i) / kRate));
            engine.analyseFrame();
        }
    }
}

// The bottom edge of a view that has followed a steady result until it stopped moving.
int32_t viewFollowing(PitchCents result, int32_t displayRange) {
    constexpr int kFramesToSettle = 100;
    View view = initialView(displayRange);
    for (int i = 0; i < kFramesToSettle; ++i)
        view = scrolledView(view, result, pictureSpan(displayRange));
    return view.base;
}

void renderBenchmark(benchmark::State& state, bool fullHistory) {
    AnalysisEngine engine;
    engine.resolution.store(kHighResolution);
    engine.configure(kRate);
    if (fullHistory)
        analyseDemoTake(engine);
    const Renderer renderer;
    Snapshot snapshot;
    snapshot.viewBase = viewFollowing(engine.currentPitch.load(), snapshot.displayRange);
    const PixelSurface surface;
    for (auto _ : state) {
        copyShownHistory(engine, snapshot);
        renderer.draw(surface.dc(), snapshot);
        benchmark::ClobberMemory();
    }
}

void BM_RenderEmptyHistory(benchmark::State& state) {
    renderBenchmark(state, false);
}
void BM_RenderFullHistory(benchmark::State& state) {
    renderBenchmark(state, true);
}

BENCHMARK(BM_RenderEmptyHistory)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFullHistory)->Unit(benchmark::kMicrosecond);

} // namespace

} // namespace kelvatone::bench
