// The audio thread's frames against the UI side's clicks, paints, timer drawings, close
// and reopen: every picture comes from one frame, and nothing scrolls or draws after close.
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::testsupport;

namespace {

constexpr int kClicks = 200;
constexpr int kReopenings = 5;
// Frames the audio thread publishes after close, in which nothing may move or be drawn.
constexpr int kFramesAfterClose = 200;
// Frames carry pitches from here up, one cent apart: inside the view's margins, so only
// the history moves the picture.
constexpr PitchCents kFirstPitch = 4500;
constexpr int kPitchCycle = 700;

LRESULT send(HWND window, UINT message, int x = 0, int y = 0) {
    return KelvatoneGui::displayWindowProc(window, message, 0, MAKELPARAM(x, y));
}

PitchCents pitchOfFrame(int frame) {
    return kFirstPitch + frame % kPitchCycle;
}

// Stands in for the effect's process calls: one frame per turn, published as the intake
// publishes it (notes, result and scroll step inside the history's update bracket). Each
// frame's notes name the frame, so that a snapshot can tell frames apart.
class AudioThread {
public:
    explicit AudioThread(TestEffect& driven) : effect(driven), thread([this] { run(); }) {}
    ~AudioThread() { stop(); }

    void stop() {
        stopping.store(true);
        if (thread.joinable())
            thread.join();
    }
    int frames() const { return frameCount.load(); }

private:
    void run() {
        while (!stopping.load()) {
            const int frame = frameCount.load();
            const PitchCents pitch = pitchOfFrame(frame);
            HeldNoteSet notes;
            notes.words[0] = static_cast<uint32_t>(pitch);
            AnalysisEngine& engine = effect.engine;
            engine.historyUpdates.beginWrite();
            engine.storeHeldNotes(notes);
            engine.recordResult(pitch);
            effect.gui().frameAnalysed(pitch);
            engine.historyUpdates.endWrite();
            frameCount.store(frame + 1);
            std::this_thread::yield();
        }
    }

    TestEffect& effect;
    std::atomic<bool> stopping{false};
    std::atomic<int> frameCount{0};
    std::thread thread;
};

void waitForFrames(const AudioThread& audio, int count) {
    const int target = audio.frames() + count;
    while (audio.frames() < target)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Whether a snapshot shows one frame: its newest column is the result, every column's
// notes name that column's own pitch, and the columns follow each other frame by frame.
bool showsOneFrame(const Snapshot& snapshot) {
    constexpr int kNewest = kShownColumns - 1;
    if (snapshot.pitch[kNewest] != snapshot.result)
        return false;
    for (int i = 0; i < kShownColumns; ++i) {
        if (snapshot.pitch[i] == kNoPitch)
            continue;
        if (snapshot.notes[i].words[0] != static_cast<uint32_t>(snapshot.pitch[i]))
            return false;
        if (i > 0 && snapshot.pitch[i - 1] != kNoPitch &&
            pitchOfFrame(snapshot.pitch[i - 1] - kFirstPitch + 1) != snapshot.pitch[i])
            return false;
    }
    return true;
}

TEST(EditorThreads, SnapshotsNeverMixFramesWhileTheAudioThreadPublishes) {
    TestEffect effect;
    AudioThread audio(effect);
    // On a busy machine the thread may not have started before all the snapshots are
    // taken: the first frame comes before the first snapshot.
    waitForFrames(audio, 1);
    constexpr int kSnapshots = 2000;
    int mixed = 0;
    for (int i = 0; i < kSnapshots; ++i)
        if (!showsOneFrame(effect.gui().takeSnapshot()))
            ++mixed;
    audio.stop();
    EXPECT_GT(audio.frames(), 0);
    EXPECT_EQ(mixed, 0) << "of " << kSnapshots << " snapshots";
}

TEST(EditorThreads, FramesClicksPaintsAndCloseNeverOverlap) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    OpenEditor shown;
    HWND window = shown.window();
    ASSERT_NE(window, nullptr);
    TestEffect& effect = shown.effect;
    KelvatoneGui& gui = shown.gui();

    AudioThread audio(effect);
    for (int i = 0; i < kClicks; ++i) {
        send(window, WM_LBUTTONDOWN, 600, 10);
        send(window, WM_PAINT);
        send(window, WM_TIMER);
    }
    EXPECT_FALSE(gui.hold.load()) << "an even number of clicks";

    // Once close has returned, the frames move and draw nothing more.
    waitForFrames(audio, 10);
    gui.close();
    const auto frozen = readBitmap(gui.getBackBufferBitmap());
    const int32_t base = gui.getViewBase();
    const int32_t step = gui.getScrollStep();
    waitForFrames(audio, kFramesAfterClose);
    send(window, WM_TIMER);
    EXPECT_EQ(readBitmap(gui.getBackBufferBitmap()), frozen);
    EXPECT_EQ(gui.getViewBase(), base);
    EXPECT_EQ(gui.getScrollStep(), step);

    // Opening again while frames flow replaces the back buffer.
    for (int i = 0; i < kReopenings; ++i) {
        gui.open(shown.host.handle());
        ASSERT_NE(gui.getDisplayWindow(), nullptr);
        waitForFrames(audio, 20);
        send(gui.getDisplayWindow(), WM_LBUTTONDOWN, 600, 10);
        gui.close();
    }
    // And without a close in between: the newer window replaces the older one.
    gui.open(shown.host.handle());
    const HWND older = gui.getDisplayWindow();
    waitForFrames(audio, 20);
    gui.open(shown.host.handle());
    ASSERT_NE(gui.getDisplayWindow(), nullptr);
    EXPECT_NE(gui.getDisplayWindow(), older);
    waitForFrames(audio, 20);
    gui.close();
    audio.stop();
    EXPECT_TRUE(gui.hold.load()) << "an odd number of clicks";
}

} // namespace

namespace {

// Results that keep the view moving: far below it, then far above, in turns.
constexpr PitchCents kFarBelow = 100;
constexpr PitchCents kFarAbove = 9000;
constexpr int kFrames = 3000;
constexpr int kFramesPerTurn = 7;

PitchCents resultOfFrame(int frame) {
    return (frame / kFramesPerTurn) % 2 == 0 ? kFarBelow : kFarAbove;
}

TEST(EditorThreads, TheViewFollowsEveryFrameWhileTheWindowPaints) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    // Where the view stands after every frame, by the scroll step alone.
    const double span = pictureSpan(18);
    View reference = initialView(18);
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int frame = 0; frame < kFrames; ++frame) {
        reference = scrolledView(reference, resultOfFrame(frame), span);
        expected.emplace_back(reference.base, reference.step);
    }

    OpenEditor shown;
    HWND window = shown.window();
    ASSERT_NE(window, nullptr);
    KelvatoneGui& gui = shown.gui();
    // Paints and drawings keep coming while the frames are published.
    std::atomic<bool> painting{true};
    std::thread invalidator([&] {
        while (painting.load()) {
            InvalidateRect(window, nullptr, FALSE);
            std::this_thread::yield();
        }
    });
    for (int frame = 0; frame < kFrames; ++frame) {
        gui.frameAnalysed(resultOfFrame(frame));
        const std::pair<int32_t, int32_t> view(gui.getViewBase(), gui.getScrollStep());
        ASSERT_EQ(view, expected[frame]) << "frame " << frame;
    }
    painting.store(false);
    invalidator.join();
    gui.close();
}

} // namespace
