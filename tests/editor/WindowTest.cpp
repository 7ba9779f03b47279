// The display window: open and close, the back buffer, clicks on the hold area,
// scrolling and drawing only while open, the shared window class, and destruction with
// the window still alive.
#include "analysis/NoteNames.h"
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kelvatone::analysis;
using namespace kelvatone::editor;
using namespace kelvatone::testsupport;
using namespace kelvatone::vst;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x808080;

// Delivers a message to the display's window procedure as the window's thread would.
LRESULT send(HWND window, UINT message, int x = 0, int y = 0) {
    return KelvatoneGui::displayWindowProc(window, message, 0, MAKELPARAM(x, y));
}

// Pixels of the "Hold" label's colour in the hold area of a picture.
int holdPixels(const std::vector<uint32_t>& image, uint32_t colour) {
    int count = 0;
    for (int y = KelvatoneGui::kHoldAreaTop; y <= KelvatoneGui::kHoldAreaBottom; ++y)
        for (int x = KelvatoneGui::kHoldAreaLeft; x <= KelvatoneGui::kHoldAreaRight; ++x)
            if (at(image, x, y) == colour)
                ++count;
    return count;
}

class DisplayWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!windowsAvailable())
            GTEST_SKIP() << "no window system";
        host = std::make_unique<HostWindow>();
        ASSERT_NE(host->handle(), nullptr);
    }

    std::unique_ptr<HostWindow> host;
};

TEST_F(DisplayWindow, OpenMakesAChildWithABackBufferAndKeepsTheRectangle) {
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    ERect* before = nullptr;
    gui.getRect(&before);
    EXPECT_EQ(gui.getBackBufferBitmap(), nullptr);
    EXPECT_FALSE(gui.isOpen());

    EXPECT_EQ(effect.dispatcher(effEditOpen, 0, 0, host->handle(), 0.0f), 1);
    HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_NE(gui.getBackBufferBitmap(), nullptr) << "made inside window creation";
    EXPECT_TRUE(gui.isOpen());
    RECT bounds;
    ASSERT_TRUE(GetWindowRect(window, &bounds));
    EXPECT_EQ(bounds.right - bounds.left, 640);
    EXPECT_EQ(bounds.bottom - bounds.top, 360);

    ERect* after = nullptr;
    gui.getRect(&after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(after->bottom, 360);
    EXPECT_EQ(after->right, 640);
    effect.dispatcher(effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(gui.getDisplayWindow(), nullptr);
#ifdef _WIN32
    EXPECT_TRUE(IsWindow(window)) << "the host destroys it with its own window";
#else
    // Our layer's window, and with it its thread, is gone before close returns.
    EXPECT_FALSE(IsWindow(window));
#endif
}

TEST_F(DisplayWindow, ClicksOnTheHoldAreaEdgesToggleAndRedrawAtOnce) {
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    gui.open(host->handle());
    HWND window = gui.getDisplayWindow();
    ASSERT_NE(window, nullptr);

    // Just outside the area: nothing.
    for (const auto& [x, y] :
         {std::pair{585, 10}, std::pair{636, 10}, std::pair{600, 3}, std::pair{600, 28}}) {
        EXPECT_EQ(send(window, WM_LBUTTONDOWN, x, y), 0);
        EXPECT_FALSE(gui.hold.load()) << x << "," << y;
    }

    // On the corners: each click flips hold and draws the label in its new colour.
    EXPECT_EQ(send(window, WM_LBUTTONDOWN, 586, 4), 0);
    EXPECT_TRUE(gui.hold.load());
    auto image = readBitmap(gui.getBackBufferBitmap());
    EXPECT_GT(holdPixels(image, kWhite), 0);
    EXPECT_EQ(holdPixels(image, kGrey), 0);

    EXPECT_EQ(send(window, WM_LBUTTONDOWN, 635, 27), 0);
    EXPECT_FALSE(gui.hold.load()) << "two clicks restore hold";
    image = readBitmap(gui.getBackBufferBitmap());
    EXPECT_GT(holdPixels(image, kGrey), 0);
    EXPECT_EQ(holdPixels(image, kWhite), 0);

    // Other buttons and keys leave it alone.
    send(window, WM_RBUTTONDOWN, 600, 10);
    send(window, WM_MOUSEMOVE, 600, 10);
    send(window, WM_KEYDOWN);
    EXPECT_FALSE(gui.hold.load());
    gui.close();
}

TEST_F(DisplayWindow, FramesScrollAndDrawOnlyWhileOpen) {
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    // A result above the top margin scrolls the view with every frame.
    effect.engine.currentPitch.store(5700);
    effect.engine.historyPitch[5].store(5700);
    gui.frameAnalysed(5700);
    gui.frameAnalysed(5700);
    EXPECT_EQ(gui.getViewBase(), 3900) << "before open";
    EXPECT_EQ(gui.getScrollStep(), 0);

    gui.open(host->handle());
    ASSERT_TRUE(waitForPicture(gui)) << "the first picture comes without any frame";
    gui.frameAnalysed(5700);
    EXPECT_EQ(gui.getViewBase(), 3900);
    EXPECT_EQ(gui.getScrollStep(), 10) << "the first frame scrolls by 0";
    EXPECT_TRUE(gui.pictureDue());
    ASSERT_TRUE(waitForPicture(gui));
    const auto drawn = readBitmap(gui.getBackBufferBitmap());

    gui.close();
    gui.frameAnalysed(5700);
    EXPECT_EQ(gui.getScrollStep(), 10) << "after close";
    gui.redraw();
    EXPECT_EQ(readBitmap(gui.getBackBufferBitmap()), drawn);
    EXPECT_NE(gui.getBackBufferBitmap(), nullptr) << "the back buffer outlives close";
}

TEST_F(DisplayWindow, OpenAnswersTrueWhenTheWindowCannotBeMade) {
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    // A child window needs a parent.
    EXPECT_TRUE(gui.open(nullptr));
    EXPECT_EQ(gui.getDisplayWindow(), nullptr);
    gui.frameAnalysed(5700);
    gui.frameAnalysed(5700);
    EXPECT_EQ(gui.getViewBase(), 3900);
}

TEST_F(DisplayWindow, ReopeningReplacesAndFreesTheBackBuffer) {
    TestEffect effect;
    KelvatoneGui& gui = effect.gui();
    gui.open(host->handle());
    const HBITMAP first = gui.getBackBufferBitmap();
    const HWND firstWindow = gui.getDisplayWindow();
    gui.close();
    gui.open(host->handle());
    const HBITMAP second = gui.getBackBufferBitmap();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(GetObjectA(first, 0, nullptr), 0) << "the earlier back buffer is freed";
    EXPECT_NE(GetObjectA(second, 0, nullptr), 0);
    // The earlier window no longer leads to the editor.
    if (IsWindow(firstWindow)) {
        EXPECT_EQ(GetWindowLongPtrA(firstWindow, GWLP_USERDATA), 0);
    }
    EXPECT_EQ(send(firstWindow, WM_LBUTTONDOWN, 600, 10), 0);
    EXPECT_FALSE(gui.hold.load());
    gui.close();
}

TEST_F(DisplayWindow, NoMessageReachesADestroyedEditor) {
    HWND window = nullptr;
    {
        TestEffect effect;
        effect.gui().open(host->handle());
        window = effect.gui().getDisplayWindow();
        ASSERT_NE(window, nullptr);
        // Destroyed while open, its window still standing in the host.
    }
    if (IsWindow(window)) {
        EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
    }
    // Paints and clicks now go to the default procedure; nothing touches the editor.
    send(window, WM_PAINT);
    EXPECT_EQ(send(window, WM_LBUTTONDOWN, 600, 10), 0);
}

TEST_F(DisplayWindow, EditorsShareOneClassRegistration) {
    EXPECT_EQ(KelvatoneGui::windowClassUsers(), 0);
    auto first = std::make_unique<TestEffect>();
    auto second = std::make_unique<TestEffect>();
    EXPECT_EQ(KelvatoneGui::windowClassUsers(), 2);
    first->gui().open(host->handle());
    second->gui().open(host->handle());
    EXPECT_NE(first->gui().getDisplayWindow(), nullptr);
    EXPECT_NE(second->gui().getDisplayWindow(), nullptr);
    EXPECT_NE(first->gui().getDisplayWindow(), second->gui().getDisplayWindow());
    first->gui().close();
    first.reset();
    EXPECT_EQ(KelvatoneGui::windowClassUsers(), 1);

    // The remaining editor still opens windows and takes clicks.
    second->gui().close();
    second->gui().open(host->handle());
    HWND window = second->gui().getDisplayWindow();
    ASSERT_NE(window, nullptr);
    send(window, WM_LBUTTONDOWN, 600, 10);
    EXPECT_TRUE(second->gui().hold.load());
    second->gui().close();
    second.reset();
    EXPECT_EQ(KelvatoneGui::windowClassUsers(), 0);
}

TEST(DisplayEditor, NeverOpenedEditorIsDestroyedCleanly) {
    const int before = KelvatoneGui::windowClassUsers();
    {
        TestEffect effect;
        EXPECT_EQ(KelvatoneGui::windowClassUsers(), before + 1);
        EXPECT_EQ(effect.gui().getBackBufferBitmap(), nullptr);
        EXPECT_EQ(effect.gui().getViewBase(), 3900);
    }
    EXPECT_EQ(KelvatoneGui::windowClassUsers(), before);
}

} // namespace
