#include "appearance/ui/messagewindow.h"
#include "common/gbk.h"
#include "ui/fakes.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using appearance::MessageWindow;

namespace {

std::vector<MessageWindow *> openWindows()
{
    std::vector<MessageWindow *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MessageWindow *>(widget); window && window->isVisible())
            windows.push_back(window);
    }
    return windows;
}

QString labelOf(const MessageWindow *window)
{
    return window->findChild<QLabel *>(QStringLiteral("标签_信息"))->text();
}

} // namespace

TEST(MessageWindow, ShowsTheLatestTextWithTheChime)
{
    FakeSound sound;
    appearance::MessageNotifier notifier(sound, nullptr, nullptr);
    notifier.showMessage(common::gbk("第一条"), false);
    notifier.showMessage(common::gbk("第二条"), false);
    const auto windows = openWindows();
    ASSERT_EQ(windows.size(), 2u);
    ASSERT_EQ(sound.played.size(), 2u);
    EXPECT_FALSE(sound.played[0].loop);
    QStringList texts{labelOf(windows[0]), labelOf(windows[1])};
    EXPECT_TRUE(texts.contains(QStringLiteral("第二条")));
    for (MessageWindow *window : windows) {
        EXPECT_EQ(window->windowTitle(), QStringLiteral("信息："));
        EXPECT_EQ(window->size(), QSize(342, 148));
        EXPECT_EQ(window->pos(), QPoint(50, 50));
        window->close();
    }
}

TEST(MessageWindow, EnterClosesAndOtherKeysDoNothing)
{
    MessageWindow window(QStringLiteral("x"));
    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
    window.show();
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("按钮_确定")), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}
