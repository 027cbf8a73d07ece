#include "platform/hotkeys.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

// Xlib comes last: its macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// A key press of Home with `state` delivered to `window`, as the program's own windows receive typing.
void pressHome(Display *display, Window window, unsigned state)
{
    XKeyEvent event{};
    event.type = KeyPress;
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.same_screen = True;
    event.keycode = XKeysymToKeycode(display, XK_Home);
    event.state = state;
    XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent *>(&event));
    XFlush(display);
}

} // namespace

TEST(HotKeys, ModifiedPressesAreTypingAndOnlyLockKeysMayBeOn)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11 && x11->display());
    Display *display = x11->display();
    const auto hotKeys = platform::createHotKeys();
    const int home = hotKeys->registerKey(0x24);
    ASSERT_NE(home, 0);
    QSignalSpy pressed(hotKeys.get(), &platform::HotKeys::pressed);
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const Window id = static_cast<Window>(window.winId());

    // Events arrive in order: when the plain press has been seen, the modified ones before it were too.
    for (const unsigned modifier : {ShiftMask, ControlMask, Mod1Mask, Mod4Mask, ShiftMask | Mod2Mask})
        pressHome(display, id, modifier);
    pressHome(display, id, 0);
    ASSERT_TRUE(pressed.wait(5000));
    EXPECT_EQ(pressed.count(), 1);
    pressHome(display, id, LockMask | Mod2Mask);
    QTRY_COMPARE(pressed.count(), 2);
    EXPECT_EQ(pressed.at(1).at(0).toInt(), home);
    hotKeys->unregisterAll();
}
