#include "appearance/ui/windowframe.h"
#include "catalog/catalogmodel.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "download/download.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "platform/singleinstance.h"
#include "settings/settings.h"
#include "support/tempdir.h"
#include "ui/fakes.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>
#include <unistd.h>

using common::gbk;
using mainwindow::MainWindow;

namespace {

class MainWindowTest : public ::testing::Test, protected FakeServices
{
protected:
    std::unique_ptr<MainWindow> makeWindow(platform::SingleInstance *instance = nullptr)
    {
        return std::make_unique<MainWindow>(services(&hotKeys, instance));
    }

    void startAndWait(MainWindow &window)
    {
        QSignalSpy finished(&window, &MainWindow::startupFinished);
        ASSERT_TRUE(window.startUp());
        ASSERT_TRUE(finished.wait(5000));
    }

    template <typename W> static W *child(const QWidget &window, const char *name)
    {
        return window.findChild<W *>(QString::fromUtf8(name));
    }

    settings::Settings settings{home.path()};
    FakeHotKeys hotKeys;
};

} // namespace

TEST_F(MainWindowTest, HasItsTitleSizeAndNamedControls)
{
    auto window = makeWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("KAVO 软件一键下载 " KAVO_VERSION)); // as the build set it
    EXPECT_EQ(window->size(), QSize(630, 485));
    for (const char *name : {"超级列表框1", "超级列表框2", "超级列表框3", "超级列表框4", "超级列表框5", "超级列表框6"})
        EXPECT_NE(child<QTreeView>(*window, name), nullptr) << name;
    for (const char *name : {"编辑框1", "编辑框3", "编辑框4", "软件下载_编辑框", "源码下载_编辑框", "模块下载_编辑框",
             "电脑技术_编辑框", "常用软件_编辑框"})
        EXPECT_NE(child<QLineEdit>(*window, name), nullptr) << name;
    for (const char *name : {"透明标签2", "标签1", "画板相片"})
        EXPECT_NE(child<QLabel>(*window, name), nullptr) << name;
    EXPECT_NE(child<QCheckBox>(*window, "选择框2"), nullptr);
    auto *pages = child<QTabWidget>(*window, "高级选择夹1");
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->count(), 7);
    // The pages fill the window below the tabs, as wide as it less an equal margin on either side.
    const QRect tabs = window->frame().tabButtons().front()->geometry();
    EXPECT_GT(pages->y(), tabs.bottom());
    EXPECT_TRUE(window->rect().contains(pages->geometry()));
    EXPECT_EQ(pages->x(), window->width() - 1 - pages->geometry().right());
    EXPECT_EQ(child<QLineEdit>(*window, "常用软件_编辑框")->text(), QStringLiteral("1.0"));
    EXPECT_EQ(child<QLineEdit>(*window, "编辑框4")->text(), QStringLiteral("请输入要查找的名称"));
}

TEST_F(MainWindowTest, MenusListTheirItemsInOrderWithSeparators)
{
    auto window = makeWindow();
    const auto captions = [](const QMenu *menu) {
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
        return texts.join(QLatin1Char(','));
    };
    EXPECT_EQ(
        captions(window->form().itemMenu), QStringLiteral("下载方式,|,刷新一下,|,立即下载,|,复制地址,|,网页下载"));
    EXPECT_EQ(captions(window->form().itemMenu->actions().first()->menu()),
        QStringLiteral("本地下载,|,迅雷下载,|,快车下载,|,旋风下载"));
    EXPECT_EQ(captions(window->form().otherMenu), QStringLiteral("更换图片,|,播放音乐,|,更换皮肤"));
    EXPECT_EQ(captions(window->form().trayMenu),
        QStringLiteral("打开KAVO软件首页,|,意见反馈,|,下载列表,|,官方网站,|,最小化,|,退出"));
}

TEST_F(MainWindowTest, StartUpFadesInToAlpha253AndGrabsF5AndHome)
{
    auto window = makeWindow();
    startAndWait(*window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 253.0 / 255.0);
    EXPECT_EQ(hotKeys.keys, (std::vector<int>{0x74, 0x24}));
    EXPECT_TRUE(sound.played.empty());
    EXPECT_EQ(
        window->trayIcon()->toolTip(), QStringLiteral("软件名称：KAVO 软件一键下载\r\n音乐：关闭\r\n作者：Verrin"));
}

TEST_F(MainWindowTest, MusicSettingTicksTheMenuLoopsTheSoundAndNamesItInTheTray)
{
    settings.writeFlag(settings::keys::PlayMusic, true);
    settings.writeFlag(settings::keys::RememberName, true);
    writeFile(home.path() / "windows.wav", "RIFF-wave-bytes");
    auto window = makeWindow();
    startAndWait(*window);
    EXPECT_TRUE(window->form().playMusicAction->isChecked());
    ASSERT_EQ(sound.played.size(), 1u);
    EXPECT_TRUE(sound.played[0].loop);
    EXPECT_EQ(sound.played[0].bytes, "RIFF-wave-bytes");
    EXPECT_EQ(
        window->trayIcon()->toolTip(), QStringLiteral("软件名称：KAVO 软件一键下载\r\n音乐：开启\r\n作者：Verrin"));
    EXPECT_TRUE(child<QCheckBox>(*window, "选择框2")->isChecked());
}

TEST_F(MainWindowTest, HomeKeyTogglesBetweenTrayAndWindow)
{
    auto window = makeWindow();
    startAndWait(*window);
    hotKeys.press(0x24);
    EXPECT_FALSE(window->isVisible());
    hotKeys.press(0x24);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(MainWindowTest, TrayClickBringsBackAMinimisedWindow)
{
    auto window = makeWindow();
    startAndWait(*window);
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    EXPECT_TRUE(window->trayIcon()->isVisible());
    emit window->trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_FALSE(window->trayIcon()->isVisible());
    // A double click does nothing.
    window->hideToTray();
    emit window->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(window->isVisible());
}

// An X11 window manager marks the unmapped window withdrawn, which Qt reports as the window leaving the
// minimised state while it stays hidden: the tray icon is then the only way back and must stay up.
TEST_F(MainWindowTest, TrayIconStaysWhileTheHiddenWindowIsReportedNotMinimised)
{
    auto window = makeWindow();
    startAndWait(*window);
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    window->setWindowState(Qt::WindowNoState);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->trayIcon()->isVisible());
    emit window->trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->trayIcon()->isVisible());
    // Restoring a window that is already centred moves nothing, and still takes the icon down.
    window->hideToTray();
    emit window->trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->trayIcon()->isVisible());
}

// A desktop without a tray (no panel shows tray icons): minimising or Home leaves the window minimised where
// the task bar shows it, since hidden it could not be brought back.
TEST_F(MainWindowTest, WithoutATrayTheWindowStaysMinimisedInsteadOfHidden)
{
    mainwindow::Services noTray = services(&hotKeys);
    noTray.trayAvailable = [] { return false; };
    MainWindow window(noTray);
    startAndWait(window);
    window.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    hotKeys.press(0x24);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    hotKeys.press(0x24);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
}

TEST_F(MainWindowTest, MovingTheNormalWindowTakesTheTrayIconDown)
{
    auto window = makeWindow();
    startAndWait(*window);
    EXPECT_TRUE(window->trayIcon()->isVisible());
    window->move(window->pos() + QPoint(30, 20));
    EXPECT_FALSE(window->trayIcon()->isVisible());
}

TEST_F(MainWindowTest, RoundedCornersFollowTheWindowSize)
{
    auto window = makeWindow();
    startAndWait(*window);
    EXPECT_EQ(window->mask().boundingRect().size(), QSize(630, 485));
    window->resize(700, 500);
    EXPECT_EQ(window->mask().boundingRect().size(), QSize(700, 500));
}

TEST_F(MainWindowTest, CategoryTabLoadsItsListAndSelectsItsPage)
{
    writeFile(home.path() / "自动更新" / "模块下载.txt",
        gbk("(模块名称：M1-模块大小：1KB-分享时间：2020.1.1-下载地址：http://x/1-)\r\n(模块名称：M2-)\r\n"));
    auto window = makeWindow();
    auto *tab = child<QAbstractButton>(*window, "tab_模块下载");
    ASSERT_NE(tab, nullptr);
    QTest::mouseClick(tab, Qt::LeftButton);
    EXPECT_EQ(child<QTabWidget>(*window, "高级选择夹1")->currentIndex(), 3);
    const catalog::CatalogModel *model = window->form().models[2];
    QTRY_COMPARE(model->rowCount(), 2);
    EXPECT_EQ(model->text(0, 3), " http://x/1");
    EXPECT_EQ(model->text(1, 4), gbk("  绿色模块"));
    QTest::mouseClick(tab, Qt::LeftButton);
    QTRY_COMPARE(model->rowCount(), 2);
    QTest::mouseClick(child<QAbstractButton>(*window, "tab_软件反馈"), Qt::LeftButton);
    EXPECT_EQ(child<QTabWidget>(*window, "高级选择夹1")->currentIndex(), 6);
}

TEST_F(MainWindowTest, SecondInstanceClosesWithoutShowingAndRaisesTheFirst)
{
    const QString name = QStringLiteral("kavo-ui-test-%1").arg(::getpid());
    platform::SingleInstance firstInstance(name);
    auto first = makeWindow(&firstInstance);
    startAndWait(*first);
    first->showMinimized();
    QTRY_VERIFY(!first->isVisible() || first->isMinimized());

    platform::SingleInstance secondInstance(name);
    auto second = makeWindow(&secondInstance);
    EXPECT_FALSE(second->startUp());
    EXPECT_FALSE(second->isVisible());
    QTRY_VERIFY(first->isVisible() && !first->isMinimized());
}

TEST_F(MainWindowTest, TrayFeedbackShowsTheFeedbackPage)
{
    auto window = makeWindow();
    startAndWait(*window);
    window->hideToTray();
    window->form().trayMenu->findChild<QAction *>(QStringLiteral("意见反馈"))->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(child<QTabWidget>(*window, "高级选择夹1")->currentIndex(), 6);
    window->form().trayMenu->findChild<QAction *>(QStringLiteral("官方网站"))->trigger();
    ASSERT_EQ(desktop.opened.size(), 1u);
}

// At the layout's size every control stands where the layout puts it; a larger window gives its room to the
// pages and lists, and the columns share the extra width. It cannot be made smaller than the layout.
TEST_F(MainWindowTest, ALargerWindowGrowsThePagesAndListsAndKeepsThePictureAndNotice)
{
    auto window = makeWindow();
    window->show();
    const auto geometryOf = [&](const char *name) { return child<QWidget>(*window, name)->geometry(); };
    const struct
    {
        const char *name;
        QRect atLayout;
        QRect grown; // 200 wider, 100 higher
    } cases[] = {
        {"高级选择夹1", {7, 120, 616, 340}, {7, 120, 816, 440}},
        {"编辑框3", {7, 120, 616, 24}, {7, 120, 816, 24}},
        {"画板相片", {16, 39, 298, 213}, {16, 39, 298, 213}},
        {"编辑框5", {16, 255, 298, 80}, {16, 255, 298, 80}},
        {"编辑框4", {314, 26, 236, 26}, {314, 26, 436, 26}},
        {"图形按钮11", {554, 26, 50, 26}, {754, 26, 50, 26}},
        {"超级列表框6", {314, 58, 289, 264}, {314, 58, 489, 364}},
        {"超级列表框1", {0, 24, 612, 312}, {0, 24, 812, 412}},
        {"编辑框2", {12, 78, 593, 250}, {12, 78, 793, 350}},
        {"按钮1", {401, 43, 203, 26}, {601, 43, 203, 26}},
    };
    const QTreeView *results = child<QTreeView>(*window, "超级列表框6");
    const auto columnsWidth = [results] {
        int total = 0;
        for (int column = 0; column < results->model()->columnCount(); ++column)
            total += results->columnWidth(column);
        return total;
    };
    const int columnsAtLayout = columnsWidth();
    const int firstColumnAtLayout = results->columnWidth(0);
    for (const auto &row : cases)
        EXPECT_EQ(geometryOf(row.name), row.atLayout) << row.name;

    window->resize(830, 585);
    for (const auto &row : cases)
        EXPECT_EQ(geometryOf(row.name), row.grown) << row.name;
    EXPECT_EQ(columnsWidth(), columnsAtLayout + 200);
    EXPECT_GT(results->columnWidth(0), firstColumnAtLayout);

    window->resize(300, 200);
    EXPECT_EQ(window->size(), QSize(630, 485));
    for (const auto &row : cases)
        EXPECT_EQ(geometryOf(row.name), row.atLayout) << row.name;
    EXPECT_EQ(columnsWidth(), columnsAtLayout);
}

// The tab of the page on show stands pressed, whichever way the page was chosen.
TEST_F(MainWindowTest, TheCurrentPagesTabIsDrawnPressed)
{
    auto window = makeWindow();
    const auto checkedTabs = [&] {
        std::vector<int> checked;
        const auto &tabs = window->frame().tabButtons();
        for (std::size_t k = 0; k < tabs.size(); ++k) {
            if (tabs[k]->isChecked())
                checked.push_back(static_cast<int>(k));
        }
        return checked;
    };
    EXPECT_EQ(checkedTabs(), std::vector<int>{0});
    QTest::mouseClick(child<QAbstractButton>(*window, "tab_模块下载"), Qt::LeftButton);
    EXPECT_EQ(checkedTabs(), std::vector<int>{3});
    // Clicking the current tab again keeps it pressed.
    QTest::mouseClick(child<QAbstractButton>(*window, "tab_模块下载"), Qt::LeftButton);
    EXPECT_EQ(checkedTabs(), std::vector<int>{3});
    window->form().trayMenu->findChild<QAction *>(QStringLiteral("意见反馈"))->trigger();
    EXPECT_EQ(checkedTabs(), std::vector<int>{6});
    window->selectPage(2);
    EXPECT_EQ(checkedTabs(), std::vector<int>{2});
}
