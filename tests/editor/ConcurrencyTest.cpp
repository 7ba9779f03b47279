// The display's scroll step on one thread while its window paints on another. The effect's
// own frames against snapshots, clicks, paints and close are tested through the effect, in
// tests/plugin/EditorThreadsTest.cpp.
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::testsupport;

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
