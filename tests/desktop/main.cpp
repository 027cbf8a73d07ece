// The platform paths for real: this binary runs under Xvfb (see tests/CMakeLists.txt) with the xcb platform and
// Debian's openbox as window manager.
#include "desktop/windowmanager.h"

#include "support/qtestchecks.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QTestChecks::install();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("desktop_tests needs an X display; run it under xvfb-run\n", stderr);
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    WindowManager openbox;
    if (!openbox.start()) {
        std::fputs("openbox did not come up on the display\n", stderr);
        return 1;
    }
    return RUN_ALL_TESTS();
}
