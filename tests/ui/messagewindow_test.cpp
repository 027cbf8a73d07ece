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

TEST(MessageWindow, ALongTextShowsEveryLineAndAShortOneKeepsTheLayout)
{
    const QString words
        = QStringLiteral("没有找到<portable office suite for windows 64 bit with all language packs>的相关内容!");
    const struct
    {
        QString text;
        bool fitsTheLayout;
    } cases[] = {{QStringLiteral("复制成功!"), true}, {words, false}, {words + words + words + words, false}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.text.toStdString());
        MessageWindow window(row.text);
        const QLabel *label = window.findChild<QLabel *>(QStringLiteral("标签_信息"));
        EXPECT_LE(label->heightForWidth(label->width()), label->height());
        EXPECT_TRUE(window.rect().adjusted(0, 30, 0, 0).contains(label->geometry()));
        if (row.fitsTheLayout) {
            EXPECT_EQ(label->geometry(), QRect(28, 64, 196, 48));
            EXPECT_EQ(window.size(), QSize(342, 148));
        }
    }
}
