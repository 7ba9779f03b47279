// One picture of the display per call (renderPicture on the Linux drawing layer, into a
// 640 x 360 memory device context): with an empty history, and with a full history of a
// sung trace and held-note bars (the demo take analysed at N = 8192 with its MIDI part).
#include "analysis/AnalysisEngine.h"
#include "editor/KelvatoneGui.h"
#include "editor/platform/Win32.h"
#include "tools/demo/DemoTake.h"
#include "vst/AudioEffectX.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr double kRate = demo::kSampleRate;
constexpr float kHighResolution = 10.0f; // N = 8192 at 44100 Hz
constexpr int kNotesPerWord = 32;

intptr_t benchHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    constexpr intptr_t kHostVersion = 2400;
    return opcode == audioMasterVersion ? kHostVersion : 0;
}

// An effect built as the plug-in builds its own: engine, then the editor, then configure.
class RenderEffect : public AudioEffectX {
public:
    RenderEffect() : AudioEffectX(benchHost, 1, 6) {
        engine.resolution.store(kHighResolution);
        new KelvatoneGui(this, &engine);
        engine.configure(kRate);
    }
    void processReplacing(float**, float**, int32_t) override {}
    KelvatoneGui& gui() { return *static_cast<KelvatoneGui*>(editor); }
    AnalysisEngine engine;
};

// A memory device context holding a bitmap of the display's size.
class BackBuffer {
public:
    BackBuffer() {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, KelvatoneGui::kWidth, KelvatoneGui::kHeight);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(dc, bitmap);
    }
    ~BackBuffer() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;
    HDC dc = nullptr;

private:
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
};

HeldNoteSet notesHeldAt(double seconds) {
    HeldNoteSet set;
    for (const demo::Note& note : demo::melody())
        if (note.start <= seconds && seconds < note.end)
            set.words[note.midiNote / kNotesPerWord] |= 1u << (note.midiNote % kNotesPerWord);
    return set;
}

// Runs the demo take through the engine as the intake does, storing the part's held notes.
void analyseDemoTake(AnalysisEngine& engine) {
    const std::vector<float> take = demo::renderTake();
    for (size_t i = 0; i < take.size(); ++i) {
        engine.pushSample(take[i]);
        if (engine.frameReady()) {
            engine.storeHeldNotes(notesHeldAt(static_cast<double>(i) / kRate));
            engine.analyseFrame();
        }
    }
}

void renderBenchmark(benchmark::State& state, bool fullHistory) {
    RenderEffect effect;
    if (fullHistory)
        analyseDemoTake(effect.engine);
    BackBuffer buffer;
    for (auto _ : state) {
        effect.gui().renderPicture(buffer.dc);
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
