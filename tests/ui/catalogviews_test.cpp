#include "catalog/catalogmodel.h"
#include "catalog/ui/catalogviews.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "download/download.h"
#include "download/links.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "support/tempdir.h"
#include "ui/fakes.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using common::gbk;

namespace {

class CatalogViewsTest : public ::testing::Test, protected FakeServices
{
protected:
    void SetUp() override
    {
        writeFile(home.path() / "自动更新" / "软件下载.txt",
            gbk("(软件名称：Alpha "
                "工具-软件大小：1MB-下载地址：http://a/1-)\r\n(软件名称：Beta-下载地址：http://b/2-)\r\n"));
        writeFile(home.path() / "自动更新" / "源码下载.txt", gbk("(源码名称：Alpha 源码-下载地址：http://s/1-)\r\n"));
        window = std::make_unique<mainwindow::MainWindow>(services());
        window->show();
    }

    QTreeView *list(int number) const { return window->form().lists[static_cast<std::size_t>(number - 1)]; }
    const catalog::CatalogModel *model(int number) const
    {
        return window->form().models[static_cast<std::size_t>(number - 1)];
    }
    catalog::CatalogViews &views() const { return window->catalogViews(); }

    void openCategory(int number, int rows)
    {
        window->tabRoutine(number);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model(number)->rowCount() == rows; }));
    }

    // A press of `button` on row `row` of a list (or on its empty area when the row does not exist).
    void press(int number, Qt::MouseButton button, int row = 0)
    {
        QTreeView *view = list(number);
        const QModelIndex index = view->model()->index(row, 0);
        const QPoint where = index.isValid() ? view->visualRect(index).center() : QPoint(5, 5);
        QTest::mousePress(view->viewport(), button, {}, where);
        QTest::mouseRelease(view->viewport(), button, {}, where);
    }

    void command(const char *name)
    {
        window->form().itemMenu->findChild<QAction *>(QString::fromUtf8(name))->trigger();
    }

    void search(const QString &text)
    {
        QSignalSpy finished(&views(), &catalog::CatalogViews::searchFinished);
        window->form().searchBox->setText(text);
        QTest::mouseClick(window->form().searchButton, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(5000));
    }

    settings::Settings settings{home.path()};
    std::unique_ptr<mainwindow::MainWindow> window;
};

} // namespace

TEST_F(CatalogViewsTest, RightPressShowsTheMenuOnlyOnAListWithRows)
{
    window->tabRoutine(3);
    press(3, Qt::RightButton);
    EXPECT_EQ(views().activeList(), 3);
    QCoreApplication::sendPostedEvents(); // the menu comes through the event queue, when it comes
    EXPECT_FALSE(window->form().itemMenu->isVisible());

    openCategory(1, 2);
    press(1, Qt::RightButton);
    EXPECT_EQ(views().activeList(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->form().itemMenu->isVisible(); }));
    window->form().itemMenu->hide();
    press(1, Qt::LeftButton);
    EXPECT_EQ(views().activeList(), 1);
}

TEST_F(CatalogViewsTest, CommandsUseTheAddressWithItsLeadingBlank)
{
    openCategory(1, 2);
    press(1, Qt::LeftButton, 1);
    command("复制地址");
    EXPECT_EQ(desktop.clipboard, " http://b/2");
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, gbk("复制成功!"));
    EXPECT_FALSE(notifier.notices[0].modal);

    command("本地下载");
    command("网页下载");
    command("快车下载");
    command("旋风下载");
    EXPECT_EQ(desktop.opened,
        (std::vector<std::string>{
            " http://b/2", " http://b/2", download::flashgetLink(" http://b/2"), "qqdl://IGh0dHA6Ly9iLzI="}));
    command("立即下载");
    EXPECT_EQ(views().pendingDownloadAddress(), " http://b/2");
}

TEST_F(CatalogViewsTest, ThunderLinkGoesToTheClipboardOnTheFirstListOnly)
{
    openCategory(1, 2);
    press(1, Qt::LeftButton, 0);
    command("迅雷下载");
    EXPECT_EQ(desktop.opened.back(), download::thunderLink(" http://a/1"));
    EXPECT_EQ(desktop.clipboard, download::thunderLink(" http://a/1"));

    desktop.clipboard.clear();
    openCategory(2, 1);
    press(2, Qt::LeftButton, 0);
    command("迅雷下载");
    EXPECT_EQ(desktop.opened.back(), download::thunderLink(" http://s/1"));
    EXPECT_EQ(desktop.clipboard, "");
}

TEST_F(CatalogViewsTest, ViewsShowTheirCaptionsAtTheirWidths)
{
    QTreeView *view = list(1);
    EXPECT_FALSE(view->isHeaderHidden());
    EXPECT_GT(view->header()->height(), 10);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("软件名称"));
    const int widths[] = {120, 65, 92, 259, 75};
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(view->columnWidth(column), widths[column]);
    EXPECT_EQ(list(6)->columnWidth(1), 165);
}

TEST_F(CatalogViewsTest, CommandsDoNothingBeforeAnyListWasClicked)
{
    command("本地下载");
    command("复制地址");
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_TRUE(notifier.notices.empty());
}

TEST_F(CatalogViewsTest, SearchFillsResultsWithIconsAndReadsColumnOne)
{
    search(QStringLiteral("Alpha"));
    const catalog::CatalogModel *results = model(6);
    ASSERT_EQ(results->rowCount(), 2);
    EXPECT_EQ(results->text(0, 0), gbk("Alpha 工具"));
    EXPECT_EQ(results->text(0, 1), " http://a/1");
    EXPECT_EQ(results->row(0).stateImage, 0);
    EXPECT_EQ(results->row(1).stateImage, 2);
    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_EQ(window->form().pages->currentIndex(), 0);

    press(6, Qt::LeftButton, 1);
    command("本地下载");
    EXPECT_EQ(desktop.opened.back(), " http://s/1");
}

TEST_F(CatalogViewsTest, SearchResultsReachTheViewInBatchesBeforeTheSearchEnds)
{
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += gbk("(软件名称：Alpha ") + std::to_string(i) + "-)\r\n";
    writeFile(home.path() / "自动更新" / "常用软件.txt", many);
    QSignalSpy finished(&views(), &catalog::CatalogViews::searchFinished);
    std::vector<int> finishedAtInsert;
    QObject::connect(
        model(6), &QAbstractItemModel::rowsInserted, model(6), [&] { finishedAtInsert.push_back(finished.count()); });
    window->form().searchBox->setText(QStringLiteral("Alpha"));
    QTest::mouseClick(window->form().searchButton, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(5000));
    ASSERT_EQ(model(6)->rowCount(), 5002);
    EXPECT_EQ(model(6)->text(2, 0), gbk("Alpha 0"));
    EXPECT_GE(finishedAtInsert.size(), 3u);
    EXPECT_EQ(std::count(finishedAtInsert.begin(), finishedAtInsert.end(), 0), std::ssize(finishedAtInsert));
}

TEST_F(CatalogViewsTest, PipesNamedLikeListsKeepNoLoadOrSearchWaiting)
{
    // Nobody writes to the pipe. Were it read, each load and search would wait on it for good, and with the
    // workers all waiting no later search would run, nor would the program end.
    const std::filesystem::path pipe = home.path() / "自动更新" / "常用软件.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    struct Unblocker
    {
        std::filesystem::path pipe;
        ~Unblocker()
        {
            // Should a reader wait on the pipe after all, let it go, so that the failure does not hang the tests.
            if (const int end = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); end >= 0)
                ::close(end);
        }
    } unblocker{pipe};
    for (int i = 0; i < 3; ++i)
        window->tabRoutine(5);
    search(QStringLiteral("Alpha"));
    ASSERT_EQ(model(6)->rowCount(), 2);
    EXPECT_EQ(model(6)->text(1, 0), gbk("Alpha 源码"));
    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_EQ(model(5)->rowCount(), 0);
}

TEST_F(CatalogViewsTest, SearchWithoutHitsSaysSoModally)
{
    search(QStringLiteral("alpha"));
    EXPECT_EQ(model(6)->rowCount(), 0);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, gbk("没有找到<alpha>的相关内容!"));
    EXPECT_TRUE(notifier.notices[0].modal);
}

TEST_F(CatalogViewsTest, SearchBoxHintTurnsBlackOnPressAndBackToGreyWhenLeftEmpty)
{
    QLineEdit *box = window->form().searchBox;
    EXPECT_EQ(box->palette().color(QPalette::Text), QColor(192, 192, 192));
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(box->text(), QString());
    EXPECT_EQ(box->palette().color(QPalette::Text), QColor(Qt::black));
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(box, &focusOut);
    EXPECT_EQ(box->text(), QStringLiteral("请输入要查找的名称"));
    EXPECT_EQ(box->palette().color(QPalette::Text), QColor(192, 192, 192));
    // The hint itself is what the box stored last.
    const auto stored = [&](const std::string &text) {
        return QTest::qWaitFor([&] { return settings.read(settings::keys::SearchText) == text; });
    };
    EXPECT_TRUE(stored(gbk("请输入要查找的名称")));
    box->setText(QStringLiteral("软件"));
    EXPECT_TRUE(stored(gbk("软件")));
}

TEST_F(CatalogViewsTest, OnlyALeftPressClearsTheHintAndTheDefaultName)
{
    const struct
    {
        const char *name;
        QLineEdit *field;
        QString initial;
    } fields[] = {{"search box", window->form().searchBox, QStringLiteral("请输入要查找的名称")},
        {"name field", window->form().nameField, QStringLiteral("网友")}};
    for (const auto &row : fields) {
        SCOPED_TRACE(row.name);
        for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
            QTest::mousePress(row.field, button);
            QTest::mouseRelease(row.field, button);
            EXPECT_EQ(row.field->text(), row.initial);
        }
        // A right press opens the field's own menu; close it before the next press.
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        QTest::mouseClick(row.field, Qt::LeftButton);
        EXPECT_EQ(row.field->text(), QString());
    }
}

TEST_F(CatalogViewsTest, RememberLabelTogglesTheBoxAndTheNameFollowsIt)
{
    const auto &form = window->form();
    QTest::mouseClick(form.nameField, Qt::LeftButton);
    EXPECT_EQ(form.nameField->text(), QString());
    form.nameField->setText(QStringLiteral("张三"));
    EXPECT_EQ(settings.read(settings::keys::UserName), gbk("网友"));

    QTest::mousePress(form.rememberNameCaption, Qt::LeftButton);
    EXPECT_TRUE(form.rememberName->isChecked());
    EXPECT_EQ(settings.read(settings::keys::RememberName), gbk("是"));
    EXPECT_EQ(settings.read(settings::keys::UserName), gbk("网友"));
    form.nameField->setText(QStringLiteral("李四"));
    EXPECT_EQ(settings.read(settings::keys::UserName), gbk("李四"));

    QTest::mousePress(form.rememberNameCaption, Qt::LeftButton);
    EXPECT_FALSE(form.rememberName->isChecked());
    EXPECT_EQ(settings.read(settings::keys::RememberName), gbk("否"));
}

TEST_F(CatalogViewsTest, RefreshReloadsTheActiveList)
{
    openCategory(1, 2);
    press(1, Qt::LeftButton, 0);
    writeFile(home.path() / "自动更新" / "软件下载.txt", gbk("(软件名称：Only-)\r\n"));
    command("刷新一下");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model(1)->rowCount() == 1; }));
    EXPECT_EQ(model(1)->text(0, 0), "Only");
}

TEST_F(CatalogViewsTest, SearchButtonSearchesAnEmptyBoxWithoutTakingItsFocus)
{
    QLineEdit *box = window->form().searchBox;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::mouseClick(box, Qt::LeftButton);
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    ASSERT_EQ(box->text(), QString());

    QSignalSpy finished(&views(), &catalog::CatalogViews::searchFinished);
    QTest::mouseClick(window->form().searchButton, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_TRUE(box->hasFocus());
    EXPECT_EQ(box->text(), QString());
    EXPECT_EQ(model(6)->rowCount(), 3); // every item with a name
    EXPECT_TRUE(notifier.notices.empty());
}

TEST_F(CatalogViewsTest, HandingOnAnEmptyAddressDoesNothing)
{
    writeFile(home.path() / "自动更新" / "模块下载.txt", gbk("(模块名称：NoAddress-)\r\n"));
    const struct
    {
        const char *name;
        int list;
        int rows;
        bool selectRow;
    } cases[] = {{"no row selected", 2, 1, false}, {"a row without address", 3, 1, true}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        openCategory(row.list, row.rows);
        list(row.list)->clearSelection();
        list(row.list)->setCurrentIndex({});
        if (row.selectRow)
            press(row.list, Qt::LeftButton, 0);
        else
            QTest::mouseClick(list(row.list)->viewport(), Qt::LeftButton, {}, QPoint(5, 300));
        ASSERT_EQ(views().activeList(), row.list);
        command("本地下载");
        command("网页下载");
        EXPECT_TRUE(desktop.opened.empty());
        EXPECT_TRUE(notifier.notices.empty());
    }
}

namespace {

std::string softwareRecord(const char *name, const char *size, const char *time)
{
    return gbk("(软件名称：") + gbk(name) + gbk("-软件大小：") + gbk(size) + gbk("-分享时间：") + gbk(time)
        + gbk("-下载地址：http://h/") + gbk(name) + "-)\r\n";
}

} // namespace

TEST_F(CatalogViewsTest, HeaderClicksSortAndReverseUntilTheNextLoad)
{
    writeFile(home.path() / "自动更新" / "软件下载.txt",
        softwareRecord("中文", "1.5GB", "2020.5.5") + softwareRecord("波浪", "900KB", "未知")
            + softwareRecord("阿里", "大", "2024.2.29") + softwareRecord("", "12.5MB", "2012.1.1"));
    openCategory(1, 4);
    QHeaderView *header = list(1)->header();
    const auto names = [&] {
        std::vector<std::string> shown;
        for (int row = 0; row < model(1)->rowCount(); ++row)
            shown.push_back(common::utf8FromGbk(model(1)->text(row, 0)));
        return shown;
    };
    const auto click = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    using Names = std::vector<std::string>;
    const struct
    {
        const char *name;
        int column;
        Names first;
        Names second;
        Qt::SortOrder firstIndicator;
    } cases[] = {
        {"name", 0, {"阿里", "波浪", "中文", ""}, {"中文", "波浪", "阿里", ""}, Qt::AscendingOrder},
        {"size", 1, {"波浪", "", "中文", "阿里"}, {"中文", "", "波浪", "阿里"}, Qt::AscendingOrder},
        {"share time", 2, {"阿里", "中文", "", "波浪"}, {"", "中文", "阿里", "波浪"}, Qt::DescendingOrder},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        click(row.column);
        EXPECT_EQ(names(), row.first);
        EXPECT_TRUE(header->isSortIndicatorShown());
        EXPECT_EQ(header->sortIndicatorSection(), row.column);
        EXPECT_EQ(header->sortIndicatorOrder(), row.firstIndicator);
        click(row.column);
        EXPECT_EQ(names(), row.second);
    }

    // The selected row stays selected where it moves, and the commands act on it.
    press(1, Qt::LeftButton, 1);
    ASSERT_EQ(names()[1], "中文");
    click(0);
    EXPECT_EQ(list(1)->currentIndex().row(), 2);
    command("复制地址");
    EXPECT_EQ(desktop.clipboard, gbk(" http://h/中文"));

    window->tabRoutine(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return names() == Names{"中文", "波浪", "阿里", ""}; }));
    EXPECT_FALSE(header->isSortIndicatorShown());
}

namespace {

// Key presses for every character of `text`, Chinese ones included.
void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

} // namespace

TEST_F(CatalogViewsTest, TypingSearchesWithoutEnterAndTellsOfNoMiss)
{
    QLineEdit *box = window->form().searchBox;
    QSignalSpy finished(&views(), &catalog::CatalogViews::searchFinished);
    QTest::mouseClick(box, Qt::LeftButton);
    type(box, QStringLiteral("Alpha"));
    ASSERT_TRUE(finished.wait(5000));
    ASSERT_EQ(model(6)->rowCount(), 2);
    EXPECT_EQ(model(6)->text(1, 0), gbk("Alpha 源码"));

    type(box, QStringLiteral("x"));
    EXPECT_EQ(model(6)->rowCount(), 0); // the keystroke took the rows of the earlier text
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(model(6)->rowCount(), 0);
    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return settings.read(settings::keys::SearchText) == "Alphax"; }));
}

TEST_F(CatalogViewsTest, AFastTypistsKeystrokesAllLandAndOnlyTheLastTextsRowsRemain)
{
    // Enough rows that the first search is still handing them on when the typing goes on.
    std::string many;
    for (int i = 0; i < 200000; ++i)
        many += gbk("(软件名称：Alpha ") + std::to_string(i) + "-)\r\n";
    writeFile(home.path() / "自动更新" / "常用软件.txt", many);
    views().setTypingPause(std::chrono::milliseconds(1));
    QLineEdit *box = window->form().searchBox;
    QSignalSpy started(&views(), &catalog::CatalogViews::searchStarted);
    QSignalSpy finished(&views(), &catalog::CatalogViews::searchFinished);
    QTest::mouseClick(box, Qt::LeftButton);
    type(box, QStringLiteral("Alp"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model(6)->rowCount() > 0; }));

    views().setTypingPause(catalog::CatalogViews::TypingPause);
    type(box, QStringLiteral("ha 源"));
    EXPECT_EQ(box->text(), QStringLiteral("Alpha 源"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 2; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() >= 1 && model(6)->rowCount() == 1; }, 5000));
    EXPECT_EQ(model(6)->text(0, 0), gbk("Alpha 源码"));
    // Once every search has returned and what they posted has been handled, no row of the first one came late.
    ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(model(6)->rowCount(), 1);
    EXPECT_TRUE(notifier.notices.empty());
}

TEST_F(CatalogViewsTest, TheLastTextTypedIsStoredEvenWhenTheWindowClosesAtOnce)
{
    QLineEdit *box = window->form().searchBox;
    QTest::mouseClick(box, Qt::LeftButton);
    type(box, QStringLiteral("Alpha 源码"));
    window.reset();
    EXPECT_EQ(settings.read(settings::keys::SearchText), gbk("Alpha 源码"));
}

TEST_F(CatalogViewsTest, AnEmptyBoxOrTheHintStartsNoSearchWhileTyping)
{
    // A typed search starts only when the typing pause runs out: no pause pending, no search to come.
    views().setTypingPause(std::chrono::hours(1));
    const QTimer *pause = views().findChild<QTimer *>(QStringLiteral("typingPause"));
    ASSERT_NE(pause, nullptr);
    QLineEdit *box = window->form().searchBox;
    QSignalSpy started(&views(), &catalog::CatalogViews::searchStarted);
    QTest::mouseClick(box, Qt::LeftButton);
    type(box, QStringLiteral("请输入要查找的名a"));
    EXPECT_TRUE(pause->isActive());
    QTest::keyClick(box, Qt::Key_Backspace);
    type(box, QStringLiteral("称"));
    ASSERT_EQ(box->text(), QStringLiteral("请输入要查找的名称"));
    EXPECT_FALSE(pause->isActive());
    EXPECT_EQ(started.count(), 0);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    ASSERT_EQ(box->text(), QString());
    EXPECT_FALSE(pause->isActive());
    EXPECT_EQ(started.count(), 0);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(started.count(), 1);
}
