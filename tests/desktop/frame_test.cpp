#include "appearance/ui/windowframe.h"
#include "mainwindow/mainwindow.h"
#include "ui/fakeservices.h"

#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using appearance::ButtonKind;

TEST(FrameUnderWindowManager, MaximiseAndRestoreKeepTheirGeometry)
{
    FakeServices fakes;
    mainwindow::MainWindow window(fakes.services());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.setGeometry(120, 80, 630, 485);
    QTRY_COMPARE(window.geometry(), QRect(120, 80, 630, 485));
    const QRect free = window.screen()->availableGeometry();

    window.frame().button(ButtonKind::Maximise)->click();
    QTRY_COMPARE(window.geometry(), QRect(free.left(), free.top() - 5, free.width(), free.height() + 5));
    EXPECT_EQ(window.frame().button(ButtonKind::Maximise)->toolTip(), QStringLiteral("还原 "));
    window.frame().button(ButtonKind::Maximise)->click();
    QTRY_COMPARE(window.geometry(), QRect(120, 80, 630, 485));
    EXPECT_EQ(window.frame().button(ButtonKind::Maximise)->toolTip(), QStringLiteral("最大化 "));
    // The window manager lets the window change size at all: the layout size is no longer fixed.
    window.resize(700, 520);
    QTRY_COMPARE(window.size(), QSize(700, 520));
}
