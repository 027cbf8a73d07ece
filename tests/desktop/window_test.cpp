#include "appearance/ui/messagewindow.h"
#include "appearance/ui/windowframe.h"
#include "catalog/catalogmodel.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "desktop/xclient.h"
#include "mainwindow/mainwindow.h"
#include "ui/fakeservices.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

// The main window in this process under openbox, given real input through xdotool: what it shows on a real
// screen, seen in the screen's pixels and the window manager's geometry.
namespace {

class WindowOnScreen : public ::testing::Test, protected FakeServices
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_x.connected());
        writeFile(home.path() / "自动更新" / "软件下载.txt",
            common::gbk("(软件名称：甲-软件大小：1KB-分享时间：2020.1.1-下载地址：http://127.0.0.1/a-)\r\n"));
        m_window = std::make_unique<mainwindow::MainWindow>(mainwindow::Services{settings, home.path(), sound, desktop,
            m_notifier, picker, picturePicker, fetch, mailSender, common::networkPool()});
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<appearance::MessageWindow *>(widget))
                widget->close();
        }
    }

    // A real click at `local` in `widget`, handled before this returns.
    void click(const QWidget *widget, QPoint local, int button = 1)
    {
        ASSERT_TRUE(m_x.click(widget->mapToGlobal(local), 0, button));
        QTest::qWait(0);
    }

    int shownNotices() const
    {
        int count = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            count += qobject_cast<appearance::MessageWindow *>(widget) && widget->isVisible() ? 1 : 0;
        return count;
    }

    QImage onScreen(const QWidget *widget) const
    {
        const QRect rect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        return m_window->screen()->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height()).toImage();
    }

    XClient m_x;
    appearance::MessageNotifier m_notifier{sound, nullptr, nullptr};
    std::unique_ptr<mainwindow::MainWindow> m_window;
};

} // namespace

TEST_F(WindowOnScreen, TenCopiedAddressesLeaveOneNoticeWindow)
{
    click(m_window->frame().tabButtons()[1], {38, 35});
    QTreeView *list = m_window->form().lists[0];
    QTRY_COMPARE(m_window->form().models[0]->rowCount(), 1);
    QMenu *menu = m_window->form().itemMenu;
    QAction *copy = menu->findChild<QAction *>(QStringLiteral("复制地址"));
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const QRect row = list->visualRect(list->model()->index(0, 0));
        click(list->viewport(), row.center(), 3);
        QTRY_VERIFY(menu->isVisible());
        click(menu, menu->actionGeometry(copy).center());
        QTRY_COMPARE(sound.played.size(), static_cast<std::size_t>(i + 1));
        EXPECT_EQ(shownNotices(), 1);
        // The user goes back to the main window: the notice stays the one it was.
        click(m_window.get(), {500, 300});
    }
    EXPECT_EQ(desktop.clipboard, " http://127.0.0.1/a");
    EXPECT_EQ(shownNotices(), 1);
}

TEST_F(WindowOnScreen, MaximisedTheListsReachTheFramesRightEdge)
{
    const QToolButton *maximise = m_window->frame().button(appearance::ButtonKind::Maximise);
    click(maximise, maximise->rect().center());
    const QRect free = m_window->screen()->availableGeometry();
    QTRY_COMPARE(m_window->width(), free.width());
    for (const QTreeView *list : {m_window->form().lists[5], m_window->form().lists[0]}) {
        SCOPED_TRACE(list->objectName().toStdString());
        const int right = list->mapTo(m_window.get(), QPoint(list->width(), 0)).x();
        EXPECT_LE(m_window->width() - right, 20);
        EXPECT_GE(m_window->width() - right, 0);
    }
}

TEST_F(WindowOnScreen, TheCurrentTabLooksDifferentOnTheScreen)
{
    const auto &tabs = m_window->frame().tabButtons();
    ASSERT_TRUE(m_x.click({0, 0}, 0, 1)); // the pointer away from every tab: no hover look
    QTRY_VERIFY(!tabs[0]->underMouse() && !tabs[5]->underMouse());
    QTest::qWait(0);
    const QImage homeCurrent = onScreen(tabs[0]);
    const QImage commonBefore = onScreen(tabs[5]);
    const QImage sourceBefore = onScreen(tabs[2]);

    click(tabs[5], {38, 35});
    QTRY_COMPARE(m_window->form().pages->currentIndex(), 5);
    ASSERT_TRUE(m_x.click({0, 0}, 0, 1));
    QTRY_VERIFY(!tabs[5]->underMouse());
    QTRY_VERIFY(onScreen(tabs[5]) != commonBefore);
    QTRY_VERIFY(onScreen(tabs[0]) != homeCurrent);
    EXPECT_EQ(onScreen(tabs[2]), sourceBefore);
}

// With the screen's own font: a 102-letter word with no hit breaks into lines that all fit the label, and the
// label's lines all fit the window above the button's row or grow it.
TEST_F(WindowOnScreen, ALongWordInANoticeShowsWhole)
{
    const std::string word(102, 'q');
    m_notifier.showMessage(common::gbk("没有找到<") + word + common::gbk(">的相关内容!"), false);
    appearance::MessageWindow *notice = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<appearance::MessageWindow *>(widget); found && found->isVisible())
            notice = found;
    }
    ASSERT_NE(notice, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(notice));
    const QLabel *label = notice->findChild<QLabel *>(QStringLiteral("标签_信息"));
    EXPECT_LE(label->heightForWidth(label->width()), label->height());
    EXPECT_TRUE(notice->rect().contains(label->geometry()));
    const QFontMetrics metrics(label->font());
    const QRect needed = metrics.boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.width(), label->width());
}
