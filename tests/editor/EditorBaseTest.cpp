// The editor base: registration with the effect, the answers of the editor opcodes,
// forwarding to a view frame, and the pacing of the idle pump.
#include "editor/AEffGUIEditor.h"
#include "editor/platform/Win32.h"
#include "tests/editor/EditorTestSupport.h"

#include <gtest/gtest.h>

using namespace kelvatone::editor;
using namespace kelvatone::vst;
using namespace kelvatone::testsupport;

namespace {

// A view frame that counts what reaches it and answers keys with a chosen value.
class RecordingFrame : public ViewFrame {
public:
    int32_t keyAnswer = kKeyUsed;
    int keyDowns = 0;
    int keyUps = 0;
    int idles = 0;
    int wheels = 0;
    VstKeyCode lastKey{};
    CPoint wheelPoint;
    float wheelDistance = 0.0f;
    HDC wheelDc = nullptr;
    bool wheelAnswer = true;

    int32_t onKeyDown(VstKeyCode& key) override {
        ++keyDowns;
        lastKey = key;
        return keyAnswer;
    }
    int32_t onKeyUp(VstKeyCode& key) override {
        ++keyUps;
        lastKey = key;
        return keyAnswer;
    }
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override {
        ++wheels;
        wheelPoint = where;
        wheelDistance = distance;
        wheelDc = context->getDeviceContext();
        return wheelAnswer;
    }
    void idle() override { ++idles; }
    void getViewSize(CRect& size) override { size = {0, 0, 640, 360}; }
};

// An editor built from the base alone, with a frame attached by the test.
class FramedEditor : public AEffGUIEditor {
public:
    using AEffGUIEditor::AEffGUIEditor;
    void attach(ViewFrame* frame) { viewFrame = frame; }
    uint32_t dueTick() const { return lastIdleTicks; }
    void setDueTick(uint32_t tick) { lastIdleTicks = tick; }
    bool insideIdleCycle() const { return inIdleCycle; }
};

class FramedEffect : public AudioEffectX {
public:
    FramedEffect() : AudioEffectX(host, 1, 0) { gui = new FramedEditor(this); }
    void processReplacing(float**, float**, int32_t) override {}
    FramedEditor* gui;
};

class EditorBase : public ::testing::Test {
protected:
    void SetUp() override {
        record().idleRequests = 0;
        record().onIdle = nullptr;
    }
    void TearDown() override { record().onIdle = nullptr; }
};

TEST_F(EditorBase, RegistersWithItsEffectAndReportsTheDisplayRectangle) {
    TestEffect effect;
    EXPECT_EQ(effect.getEditor(), &effect.gui());
    EXPECT_NE(effect.getAeffect()->flags & effFlagsHasEditor, 0);

    ERect* rect = nullptr;
    EXPECT_EQ(effect.dispatcher(effEditGetRect, 0, 0, &rect, 0.0f), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 360);
    EXPECT_EQ(rect->right, 640);
    ERect* again = nullptr;
    effect.gui().getRect(&again);
    EXPECT_EQ(again, rect) << "the same rectangle for the editor's whole life";
}

TEST_F(EditorBase, WithoutAFrameIdleKeysAndWheelDoNothing) {
    TestEffect effect;
    EXPECT_EQ(effect.dispatcher(effEditIdle, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effEditKeyDown, 'a', 1, nullptr, 2.0f), 0);
    EXPECT_EQ(effect.dispatcher(effEditKeyUp, 'a', 1, nullptr, 2.0f), 0);
    EXPECT_FALSE(effect.gui().onWheel(1.0f));
}

TEST_F(EditorBase, KnobModeIsSharedByTheProcessAndAlwaysAccepted) {
    TestEffect first;
    TestEffect second;
    EXPECT_EQ(first.dispatcher(effSetEditKnobMode, 0, 2, nullptr, 0.0f), 1);
    EXPECT_EQ(AEffGUIEditor::knobMode(), 2);
    EXPECT_EQ(second.dispatcher(effSetEditKnobMode, 0, -7, nullptr, 0.0f), 1);
    EXPECT_EQ(AEffGUIEditor::knobMode(), -7);
    EXPECT_TRUE(first.gui().setKnobMode(0));
    EXPECT_EQ(AEffGUIEditor::knobMode(), 0);
}

TEST_F(EditorBase, KeysCountAsUsedOnlyWhenTheFrameAnswersOne) {
    FramedEffect effect;
    RecordingFrame frame;
    effect.gui->attach(&frame);
    VstKeyCode key{'q', 3, 4};
    for (const auto& [answer, used] :
         {std::pair{1, true}, std::pair{0, false}, std::pair{2, false}, std::pair{-1, false}}) {
        frame.keyAnswer = answer;
        EXPECT_EQ(effect.gui->onKeyDown(key), used) << answer;
        EXPECT_EQ(effect.gui->onKeyUp(key), used) << answer;
    }
    EXPECT_EQ(frame.keyDowns, 4);
    EXPECT_EQ(frame.keyUps, 4);
    EXPECT_EQ(frame.lastKey.character, 'q');
    // Through the dispatcher: character from index, virt from value, modifier from opt.
    frame.keyAnswer = kKeyUsed;
    EXPECT_EQ(effect.dispatcher(effEditKeyDown, 'x', 0x1234, nullptr, 5.7f), 1);
    EXPECT_EQ(frame.lastKey.character, 'x');
    EXPECT_EQ(frame.lastKey.virt, 0x34);
    EXPECT_EQ(frame.lastKey.modifier, 5);
}

TEST_F(EditorBase, IdleReachesTheFrameExceptInsideTheIdleCycle) {
    FramedEffect effect;
    RecordingFrame frame;
    effect.gui->attach(&frame);
    effect.dispatcher(effEditIdle, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(frame.idles, 1);

    // The host's idle answer calls the editor's idle again: it must not reach the frame.
    static FramedEffect* current;
    static bool sawCycle;
    current = &effect;
    sawCycle = false;
    record().onIdle = [] {
        sawCycle = current->gui->insideIdleCycle();
        current->gui->idle();
    };
    effect.gui->setDueTick(GetTickCount());
    effect.gui->runIdleCycle();
    EXPECT_EQ(record().idleRequests.load(), 1);
    EXPECT_TRUE(sawCycle);
    EXPECT_FALSE(effect.gui->insideIdleCycle());
    EXPECT_EQ(frame.idles, 2) << "one from the pump itself, none from inside the host's idle";
}

TEST_F(EditorBase, WheelGoesToTheFrameWithAContextOnTheWindow) {
    if (!windowsAvailable())
        GTEST_SKIP() << "no window system";
    WindowWithChild windows;
    ASSERT_NE(windows.child, nullptr);
    HWND window = windows.child;
    FramedEffect effect;
    RecordingFrame frame;
    effect.gui->attach(&frame);
    effect.gui->AEffEditor::open(window);

    EXPECT_TRUE(effect.gui->onWheel(1.5f));
    frame.wheelAnswer = false;
    EXPECT_FALSE(effect.gui->onWheel(-1.0f));
    EXPECT_EQ(frame.wheels, 2);
    EXPECT_FLOAT_EQ(frame.wheelDistance, -1.0f);
    EXPECT_NE(frame.wheelDc, nullptr) << "the context takes the window's device context";

    RECT bounds;
    ASSERT_TRUE(GetWindowRect(window, &bounds));
    POINT cursor;
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(frame.wheelPoint.x, cursor.x - bounds.left);
    EXPECT_EQ(frame.wheelPoint.y, cursor.y - bounds.top);
    DestroyWindow(window);
}

TEST_F(EditorBase, EditsAreForwardedToTheHost) {
    FramedEffect effect;
    effect.gui->beginEdit(3);
    EXPECT_EQ(record().lastBeginEdit.load(), 3);
    effect.gui->endEdit(4);
    EXPECT_EQ(record().lastEndEdit.load(), 4);
}

TEST(IdleTicks, DistancesSurviveTheClockWrap) {
    EXPECT_EQ(ticksUntil(150, 50), 100);
    EXPECT_EQ(ticksUntil(50, 150), -100);
    // Due just after the wrap while the clock is just before it: still ahead.
    EXPECT_EQ(ticksUntil(0x00000040u, 0xFFFFFFF0u), 0x50);
    // Set just before the wrap, read just after it: passed, so the cycle runs instead of
    // waiting 49.7 days for the clock to come round.
    EXPECT_EQ(ticksUntil(0xFFFFFFA0u, 0x00000009u), -105);
}

TEST_F(EditorBase, IdlePumpRunsAtMostEveryHundredMilliseconds) {
    FramedEffect effect;
    RecordingFrame frame;
    effect.gui->attach(&frame);

    // Due at construction: the first cycle runs and schedules the next 100 ms ahead.
    effect.gui->runIdleCycle();
    EXPECT_EQ(frame.idles, 1);
    EXPECT_EQ(record().idleRequests.load(), 1);
    const int32_t ahead = ticksUntil(effect.gui->dueTick(), GetTickCount());
    EXPECT_GT(ahead, 80);
    EXPECT_LE(ahead, 100);

    // Called again at once: sleeps its 4 ms and gives up.
    effect.gui->runIdleCycle();
    EXPECT_EQ(frame.idles, 1);
    EXPECT_EQ(record().idleRequests.load(), 1);

    // Well within 50 ms of the due tick after the pause: runs.
    effect.gui->setDueTick(GetTickCount() + 20);
    effect.gui->runIdleCycle();
    EXPECT_EQ(frame.idles, 2);
    EXPECT_EQ(record().idleRequests.load(), 2);

    // Far from it: does not.
    effect.gui->setDueTick(GetTickCount() + 90);
    effect.gui->runIdleCycle();
    EXPECT_EQ(frame.idles, 2);

    // Overdue: runs without a pause.
    effect.gui->setDueTick(GetTickCount() - 10);
    effect.gui->runIdleCycle();
    EXPECT_EQ(frame.idles, 3);
}

} // namespace
