#include "tests/editor/EditorTestSupport.h"

using namespace kelvatone::analysis;
using namespace kelvatone::testsupport;
using namespace kelvatone::editor;

TestEffect::TestEffect(int32_t displayRange) : AudioEffectX(host, 1, 6) {
    engine.displayRange.store(displayRange);
    new KelvatoneGui(this, &engine);
    engine.configure(44100.0);
}

void TestEffect::setShownColumn(int i, PitchCents pitch, const HeldNoteSet& notes) {
    const int next = engine.historyIndex.load();
    const int column = (next + kHistoryLength - KelvatoneGui::kShownColumns + i) % kHistoryLength;
    engine.historyPitch[column].store(pitch);
    engine.historyNotes[column].store(notes);
}

void TestEffect::clearHistory() {
    for (int i = 0; i < kHistoryLength; ++i) {
        engine.historyPitch[i].store(kNoPitch);
        engine.historyNotes[i].store(HeldNoteSet{});
    }
}

OpenEditor::OpenEditor() {
    if (host.handle() != nullptr)
        effect.gui().open(host.handle());
}

void drawFrame(TestEffect& effect, HDC dc) {
    effect.gui().scrollView(effect.engine.currentPitch.load());
    effect.gui().drawPicture(dc);
}

bool waitForPicture(KelvatoneGui& gui) {
    constexpr int kPolls = 2000;
    if (!gui.getBackBufferBitmap() || !gui.getDisplayWindow())
        return false;
    for (int poll = 0; poll < kPolls; ++poll) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (!gui.pictureDue())
            return true;
        Sleep(1);
    }
    return false;
}
