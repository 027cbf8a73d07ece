#include "appearance/ui/messagewindow.h"
#include "common/gbk.h"
#include "ui/fakes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTextLayout>
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

// Notices that do not wait share one window: it takes the latest text and chimes each time. A notice that waits
// opens its own window.
TEST(MessageWindow, ShowsTheLatestTextWithTheChimeInOneWindow)
{
    FakeSound sound;
    appearance::MessageNotifier notifier(sound, nullptr, nullptr);
    notifier.showMessage(common::gbk("第一条"), false);
    notifier.showMessage(common::gbk("第二条"), false);
    auto windows = openWindows();
    ASSERT_EQ(windows.size(), 1u);
    ASSERT_EQ(sound.played.size(), 2u);
    EXPECT_FALSE(sound.played[0].loop);
    EXPECT_EQ(labelOf(windows[0]), QStringLiteral("第二条"));
    EXPECT_EQ(windows[0]->windowTitle(), QStringLiteral("信息："));
    EXPECT_EQ(windows[0]->size(), QSize(342, 148));
    EXPECT_EQ(windows[0]->pos(), QPoint(50, 50));

    // A closed window is not reused: the next notice opens a new one.
    windows[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    notifier.showMessage(common::gbk("第三条"), false);
    windows = openWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(labelOf(windows[0]), QStringLiteral("第三条"));
    windows[0]->close();
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

// A word wider than the label breaks anywhere instead of running under the button; a reused window given a
// short text again goes back to the layout.
TEST(MessageWindow, ALongWordBreaksAnywhereAndTheWindowFitsTheNextText)
{
    const QString word = QString(102, QLatin1Char('w'));
    MessageWindow window(QStringLiteral("没有找到<") + word + QStringLiteral(">的相关内容!"));
    const QLabel *label = window.findChild<QLabel *>(QStringLiteral("标签_信息"));
    QTextLayout layout(label->text(), label->font());
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(wrap);
    layout.beginLayout();
    int widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->width());
        widest = std::max(widest, static_cast<int>(line.naturalTextWidth()));
    }
    layout.endLayout();
    EXPECT_LE(widest, label->width());
    EXPECT_LE(label->heightForWidth(label->width()), label->height());

    window.setText(QStringLiteral("复制成功!"));
    EXPECT_EQ(label->text(), QStringLiteral("复制成功!"));
    EXPECT_EQ(label->geometry(), QRect(28, 64, 196, 48));
    EXPECT_EQ(window.size(), QSize(342, 148));
}

// Taller than the screen, the text scrolls inside a window that ends on the screen.
TEST(MessageWindow, ATextTallerThanTheScreenScrolls)
{
    QString text;
    for (int i = 0; i < 400; ++i)
        text += QStringLiteral("第%1行 ").arg(i);
    MessageWindow window(text);
    const int screenHeight = QGuiApplication::primaryScreen()->availableGeometry().height();
    EXPECT_LE(window.y() + window.height(), screenHeight);
    const auto *scroll = window.findChild<QScrollArea *>(QStringLiteral("滚动_信息"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->widget(), window.findChild<QLabel *>(QStringLiteral("标签_信息")));
    window.setText(QStringLiteral("短"));
    EXPECT_EQ(window.findChild<QScrollArea *>(QStringLiteral("滚动_信息")), nullptr);
    EXPECT_EQ(window.size(), QSize(342, 148));
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
