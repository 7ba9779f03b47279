// The audio thread's redraws against the UI thread's clicks, paints, close and reopen.
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

constexpr int kClicks = 200;
constexpr int kReopenings = 5;
// Redraw attempts the audio thread makes after close, in which nothing may be drawn.
constexpr int kAttemptsAfterClose = 200;

LRESULT send(HWND window, UINT message, int x = 0, int y = 0) {
    return KelvatoneGui::displayWindowProc(window, message, 0, MAKELPARAM(x, y));
}

// Stands in for the effect's process calls: under the engine's guard, one new history
// column and result per call, then a redraw.
class AudioThread {
public:
    explicit AudioThread(TestEffect& effect) : effect(effect), thread([this] { run(); }) {}
    ~AudioThread() { stop(); }

    void stop() {
        stopping.store(true);
        if (thread.joinable())
            thread.join();
    }
    int attempts() const { return attemptCount.load(); }

private:
    void run() {
        int frame = 0;
        while (!stopping.load()) {
            if (effect.engine.guard.tryLock()) {
                // Pitches inside the view's margins, so only the history moves the picture.
                const PitchCents pitch = 4500 + (frame % 7) * 100;
                const int next = effect.engine.historyIndex.load();
                effect.engine.historyPitch[next].store(pitch);
                effect.engine.historyIndex.store((next + 1) % kHistoryLength);
                effect.engine.currentPitch.store(pitch);
                effect.gui().redraw();
                effect.engine.guard.unlock();
                ++frame;
            }
            ++attemptCount;
            std::this_thread::yield();
        }
    }

    TestEffect& effect;
    std::atomic<bool> stopping{false};
    std::atomic<int> attemptCount{0};
    std::thread thread;
};

void waitForAttempts(const AudioThread& audio, int count) {
    const int target = audio.attempts() + count;
    while (audio.attempts() < target)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(EditorThreads, RedrawsClicksPaintsAndCloseNeverOverlap) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    HostWindow host;
    ASSERT_NE(host.handle(), nullptr);
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    gui.open(host.handle());
    HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);

    AudioThread audio(effect);
    for (int i = 0; i < kClicks; ++i) {
        send(window, WM_LBUTTONDOWN, 600, 10);
        send(window, WM_PAINT);
    }
    EXPECT_FALSE(gui.hold.load()) << "an even number of clicks";

    // Once close has returned, the audio thread draws and invalidates nothing more.
    waitForAttempts(audio, 10);
    gui.close();
    const auto frozen = readBitmap(gui.getBackBufferBitmap());
    const int32_t base = gui.getViewBase();
    waitForAttempts(audio, kAttemptsAfterClose);
    EXPECT_EQ(readBitmap(gui.getBackBufferBitmap()), frozen);
    EXPECT_EQ(gui.getViewBase(), base);

    // Opening again while audio flows replaces the back buffer under the audio thread.
    for (int i = 0; i < kReopenings; ++i) {
        gui.open(host.handle());
        ASSERT_NE(gui.getDisplayWindow(), nullptr);
        waitForAttempts(audio, 20);
        send(gui.getDisplayWindow(), WM_LBUTTONDOWN, 600, 10);
        gui.close();
    }
    // And without a close in between: the newer window replaces the older one.
    gui.open(host.handle());
    const HWND older = gui.getDisplayWindow();
    waitForAttempts(audio, 20);
    gui.open(host.handle());
    ASSERT_NE(gui.getDisplayWindow(), nullptr);
    EXPECT_NE(gui.getDisplayWindow(), older);
    waitForAttempts(audio, 20);
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

TEST(EditorThreads, TheViewFollowsEveryFrameWhilePaintsHoldTheBackBuffer) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    // Where the view stands after every frame when each one is drawn.
    TestEffect reference;
    PixelSurface surface;
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int frame = 0; frame < kFrames; ++frame) {
        reference.engine.currentPitch.store(resultOfFrame(frame));
        reference.gui().renderPicture(surface.dc());
        expected.emplace_back(reference.gui().getViewBase(), reference.gui().getScrollStep());
    }

    HostWindow host;
    ASSERT_NE(host.handle(), nullptr);
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    gui.open(host.handle());
    HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);
    // Paints keep taking the back buffer while the frames are drawn.
    std::atomic<bool> painting{true};
    std::thread invalidator([&] {
        while (painting.load()) {
            InvalidateRect(window, nullptr, FALSE);
            std::this_thread::yield();
        }
    });
    for (int frame = 0; frame < kFrames; ++frame) {
        effect.engine.guard.lock();
        effect.engine.currentPitch.store(resultOfFrame(frame));
        gui.redraw();
        const std::pair<int32_t, int32_t> view(gui.getViewBase(), gui.getScrollStep());
        effect.engine.guard.unlock();
        ASSERT_EQ(view, expected[frame]) << "frame " << frame;
    }
    painting.store(false);
    invalidator.join();
    gui.close();
}

} // namespace
