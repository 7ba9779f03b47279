// X input events as window messages (the Linux layer's event translation), on events
// made up here: no X server needed, since only key events consult the connection.
// GoogleTest comes before Xlib, whose None macro would clash with it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include "editor/window/linux/EventTranslation.h"

namespace {

using kelvatone::platform::Message;
using kelvatone::platform::messageOf;

XEvent buttonEvent(int type, unsigned button, unsigned state, int x, int y, int rootX, int rootY) {
    XEvent event{};
    event.type = type;
    event.xbutton.button = button;
    event.xbutton.state = state;
    event.xbutton.x = x;
    event.xbutton.y = y;
    event.xbutton.x_root = rootX;
    event.xbutton.y_root = rootY;
    return event;
}

TEST(EventTranslation, ButtonsBecomeDownAndUpWithClientPointAndKeyState) {
    struct Case {
        unsigned button;
        UINT down, up;
    };
    for (const Case c :
         {Case{Button1, WM_LBUTTONDOWN, WM_LBUTTONUP}, Case{Button2, WM_MBUTTONDOWN, WM_MBUTTONUP},
          Case{Button3, WM_RBUTTONDOWN, WM_RBUTTONUP}}) {
        XEvent press =
            buttonEvent(ButtonPress, c.button, ShiftMask | Button3Mask, 600, 10, 900, 400);
        Message message{};
        ASSERT_TRUE(messageOf(press, message)) << c.button;
        EXPECT_EQ(message.message, c.down);
        EXPECT_EQ(message.wParam, static_cast<WPARAM>(MK_SHIFT | MK_RBUTTON));
        EXPECT_EQ(LOWORD(message.lParam), 600);
        EXPECT_EQ(HIWORD(message.lParam), 10);

        XEvent release =
            buttonEvent(ButtonRelease, c.button, ControlMask | Button1Mask, 3, 4, 0, 0);
        ASSERT_TRUE(messageOf(release, message));
        EXPECT_EQ(message.message, c.up);
        EXPECT_EQ(message.wParam, static_cast<WPARAM>(MK_CONTROL | MK_LBUTTON));
        EXPECT_EQ(message.lParam, MAKELPARAM(3, 4));
    }
    // Buttons beyond the wheel (side buttons) make no message.
    XEvent side = buttonEvent(ButtonPress, 8, 0, 1, 1, 1, 1);
    Message message{};
    EXPECT_FALSE(messageOf(side, message));
}

TEST(EventTranslation, WheelPressesBecomeOneWheelMessageInScreenCoordinates) {
    Message message{};
    XEvent up = buttonEvent(ButtonPress, 4, Button2Mask, 5, 6, 700, 800);
    ASSERT_TRUE(messageOf(up, message));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_MOUSEWHEEL));
    EXPECT_EQ(LOWORD(message.wParam), MK_MBUTTON);
    EXPECT_EQ(static_cast<short>(HIWORD(message.wParam)), WHEEL_DELTA);
    EXPECT_EQ(message.lParam, MAKELPARAM(700, 800));

    XEvent down = buttonEvent(ButtonPress, 5, 0, 5, 6, 7, 8);
    ASSERT_TRUE(messageOf(down, message));
    EXPECT_EQ(static_cast<short>(HIWORD(message.wParam)), -WHEEL_DELTA);

    XEvent release = buttonEvent(ButtonRelease, 4, 0, 5, 6, 7, 8);
    EXPECT_FALSE(messageOf(release, message));
}

TEST(EventTranslation, MotionBecomesMouseMoveAndOtherEventsMakeNone) {
    XEvent motion{};
    motion.type = MotionNotify;
    motion.xmotion.x = 639;
    motion.xmotion.y = 359;
    motion.xmotion.state = Button1Mask;
    Message message{};
    ASSERT_TRUE(messageOf(motion, message));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(message.lParam, MAKELPARAM(639, 359));

    for (int type : {Expose, ConfigureNotify, DestroyNotify, EnterNotify, FocusIn}) {
        XEvent other{};
        other.type = type;
        EXPECT_FALSE(messageOf(other, message)) << type;
    }
}

} // namespace
