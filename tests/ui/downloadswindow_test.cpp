#include "appearance/ui/windowframe.h"
#include "common/gbk.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/options.h"
#include "downloads/queue.h"
#include "downloads/ui/completionnotice.h"
#include "downloads/ui/downloadswindow.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "support/demoservice.h"
#include "support/holdingserver.h"
#include "support/tempdir.h"
#include "ui/fakes.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <map>

using common::gbk;
using downloads::DownloadsWindow;

namespace {

struct FakeRemovePrompter final : downloads::RemovePrompter
{
    downloads::RemoveChoice askRemove(QWidget *, const QString &name) override
    {
        asked.push_back(name);
        return answer;
    }
    downloads::RemoveChoice answer = downloads::RemoveChoice::Cancel;
    QStringList asked;
};

template <typename W> W *child(QWidget *window, const char *name)
{
    return window->findChild<W *>(QString::fromUtf8(name));
}

enum Column
{
    Name,
    Size,
    Progress,
    Speed,
    TimeLeft,
    StateText
};

class DownloadsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        queue = std::make_unique<downloads::Queue>(
            downloads::storeFile(home.path()),
            [this](const std::string &address) {
                const auto found = shares.find(address);
                return found == shares.end() ? download::ShareResolution{} : found->second;
            },
            downloads::QueueOptions{});
    }
    void TearDown() override
    {
        delete window.data();
        queue.reset();
    }

    void open()
    {
        window = new DownloadsWindow({*queue, settings, desktop, prompter});
        window->show();
    }

    QTableWidget *table() const { return window->findChild<QTableWidget *>(QStringLiteral("表格_下载列表")); }
    QString text(int row, int column) const { return table()->item(row, column)->text(); }
    QPushButton *button(int row, const char *name) const
    {
        return table()->cellWidget(row, 6)->findChild<QPushButton *>(QString::fromUtf8(name));
    }

    // A share whose file the held server sends in part and then holds.
    void shareHeld(const std::string &address, const std::string &url)
    {
        shares[address] = {{"", "held.bin", "4KB", "", ""}, true, url};
    }

    TempDir home;
    TempDir folder;
    settings::Settings settings{home.path()};
    FakeDesktop desktop;
    FakeRemovePrompter prompter;
    std::map<std::string, download::ShareResolution> shares; // read on the queue's threads once written
    std::unique_ptr<downloads::Queue> queue;
    QPointer<DownloadsWindow> window;
};

} // namespace

TEST_F(DownloadsWindowTest, IsAFramedWindowTitledDownloadsListShowingTheQueuesOptions)
{
    queue->setOptions({2, 300 * 1024, {download::ProxySetting::Mode::Manual, "socks5h://127.0.0.1:1080"}});
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("下载列表"));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_NE(window->findChild<QToolButton *>(), nullptr); // the frame's close button
    EXPECT_EQ(child<QSpinBox>(window, "数字框_同时下载")->value(), 2);
    EXPECT_EQ(child<QSpinBox>(window, "数字框_限速")->value(), 300);
    EXPECT_EQ(child<QComboBox>(window, "组合框_代理")->currentText(), QStringLiteral("手动设置"));
    EXPECT_EQ(child<QLineEdit>(window, "编辑框_代理地址")->text(), QStringLiteral("socks5h://127.0.0.1:1080"));
    EXPECT_EQ(table()->rowCount(), 0);
}

TEST_F(DownloadsWindowTest, RowsFollowTheQueueAndTheirButtonsActOnIt)
{
    HoldingServer server("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" + std::string(1000, 'a'), {});
    shareHeld("held", server.url("/held.bin"));
    queue->add("held", folder.path());
    queue->add("gone", folder.path()); // no share page: it fails
    open();
    QTRY_COMPARE(text(0, StateText), QStringLiteral("下载中"));
    QTRY_VERIFY(text(1, StateText).startsWith(QStringLiteral("失败：")));
    QTRY_COMPARE(static_cast<QProgressBar *>(table()->cellWidget(0, Progress))->value(), 25);
    EXPECT_EQ(text(0, Name), QStringLiteral("held.bin"));
    EXPECT_EQ(text(0, Size), QStringLiteral("3.9KiB"));
    EXPECT_TRUE(text(0, Speed).endsWith(QStringLiteral("/s")));
    EXPECT_FALSE(text(0, TimeLeft).isEmpty());
    EXPECT_TRUE(text(1, Speed).isEmpty());
    EXPECT_EQ(button(0, "按钮_暂停")->text(), QStringLiteral("暂停"));
    EXPECT_FALSE(button(0, "按钮_重试")->isEnabled());
    EXPECT_TRUE(button(1, "按钮_重试")->isEnabled());
    EXPECT_FALSE(button(1, "按钮_暂停")->isEnabled());

    QTest::mouseClick(button(0, "按钮_打开文件夹"), Qt::LeftButton);
    EXPECT_EQ(desktop.folders, std::vector<std::filesystem::path>{folder.path()});

    QTest::mouseClick(button(0, "按钮_暂停"), Qt::LeftButton);
    QTRY_COMPARE(text(0, StateText), QStringLiteral("已暂停"));
    EXPECT_EQ(button(0, "按钮_暂停")->text(), QStringLiteral("继续"));
    QTest::mouseClick(button(0, "按钮_暂停"), Qt::LeftButton);
    QTRY_COMPARE(text(0, StateText), QStringLiteral("下载中"));

    // Cancel keeps the row; keeping the file takes the row only; deleting takes the partial data as well.
    prompter.answer = downloads::RemoveChoice::Cancel;
    QTest::mouseClick(button(1, "按钮_删除"), Qt::LeftButton);
    EXPECT_EQ(table()->rowCount(), 2);
    prompter.answer = downloads::RemoveChoice::KeepFile;
    QTest::mouseClick(button(1, "按钮_删除"), Qt::LeftButton);
    ASSERT_EQ(table()->rowCount(), 1);
    EXPECT_EQ(text(0, Name), QStringLiteral("held.bin"));
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "held.bin.part"));
    prompter.answer = downloads::RemoveChoice::DeleteFile;
    QTest::mouseClick(button(0, "按钮_删除"), Qt::LeftButton);
    QTRY_COMPARE(table()->rowCount(), 0); // once the running task has stopped
    EXPECT_EQ(
        prompter.asked, (QStringList{QStringLiteral("gone"), QStringLiteral("gone"), QStringLiteral("held.bin")}));
    QTRY_VERIFY(std::filesystem::is_empty(folder.path()));
    EXPECT_TRUE(queue->items().empty());
}

TEST_F(DownloadsWindowTest, OptionsReachTheQueueAndTheSettingsFileButAnUnusableProxyDoesNot)
{
    using Mode = download::ProxySetting::Mode;
    open();
    const struct
    {
        const char *name;
        std::function<void(QWidget *)> change;
        downloads::QueueOptions expected;
        bool problem;
    } cases[]{
        {"limit", [](QWidget *w) { child<QSpinBox>(w, "数字框_限速")->setValue(64); }, {3, 64 * 1024, {}}, false},
        {"concurrency", [](QWidget *w) { child<QSpinBox>(w, "数字框_同时下载")->setValue(1); }, {1, 64 * 1024, {}},
            false},
        {"no proxy", [](QWidget *w) { child<QComboBox>(w, "组合框_代理")->setCurrentIndex(0); },
            {1, 64 * 1024, {Mode::None, ""}}, false},
        {"manual without address", [](QWidget *w) { child<QComboBox>(w, "组合框_代理")->setCurrentIndex(2); },
            {1, 64 * 1024, {Mode::None, ""}}, true},
        {"ftp proxy",
            [](QWidget *w) {
                auto *address = child<QLineEdit>(w, "编辑框_代理地址");
                address->setText(QStringLiteral("ftp://127.0.0.1:21"));
                emit address->editingFinished();
            },
            {1, 64 * 1024, {Mode::None, ""}}, true},
        {"socks5 proxy",
            [](QWidget *w) {
                auto *address = child<QLineEdit>(w, "编辑框_代理地址");
                address->setText(QStringLiteral(" socks5://127.0.0.1:1080 "));
                emit address->editingFinished();
            },
            {1, 64 * 1024, {Mode::Manual, "socks5://127.0.0.1:1080"}}, false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        row.change(window);
        EXPECT_EQ(queue->options(), row.expected);
        EXPECT_EQ(downloads::readQueueOptions(settings), row.expected);
        EXPECT_EQ(child<QLabel>(window, "标签_代理提示")->text().isEmpty(), !row.problem);
    }
}

namespace {

class DownloadsWiringTest : public ::testing::Test, protected FakeServices
{
protected:
    static std::vector<DownloadsWindow *> listWindows()
    {
        std::vector<DownloadsWindow *> found;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *list = qobject_cast<DownloadsWindow *>(widget); list && list->isVisible())
                found.push_back(list);
        }
        return found;
    }
};

} // namespace

TEST_F(DownloadsWiringTest, TheTrayEntryAndTheToolsButtonOpenTheOneDownloadsList)
{
    mainwindow::MainWindow window(services());
    window.form().trayMenu->findChild<QAction *>(QStringLiteral("下载列表"))->trigger();
    ASSERT_EQ(listWindows().size(), 1u);
    DownloadsWindow *list = listWindows().front();
    window.openNetdiskTool();
    auto *tool = window.findChild<download::NetdiskWindow *>();
    ASSERT_NE(tool, nullptr);
    QTest::mouseClick(child<QPushButton>(tool, "按钮_下载列表"), Qt::LeftButton);
    EXPECT_EQ(listWindows(), std::vector<DownloadsWindow *>{list});
    tool->close();
    list->close();
}

TEST_F(DownloadsWiringTest, ADownloadCutByTheEndOfTheProgramContinuesAtTheNextStartWithANotice)
{
    DemoService demo(KAVO_PUBLISHED_DIR, 1024 * 1024);
    ASSERT_TRUE(demo.started());
    const auto resolve = [](const std::string &address) {
        return download::resolveShare(address, [](const std::string &url) { return download::FetchUrl(url); });
    };
    const std::string address = demo.url("/share/link?shareid=110002&uk=3500002");
    {
        downloads::Queue before(downloads::storeFile(home.path()), resolve, {});
        before.add(address, home.path());
        QTRY_VERIFY_WITH_TIMEOUT(before.items().front().received > 0, 20000);
    }
    mainwindow::Services given = services();
    given.resolveShare = resolve;
    mainwindow::MainWindow window(given);
    ASSERT_TRUE(window.startUp());
    std::vector<downloads::Item> items = window.queue().items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items.front().state, downloads::State::Paused);
    QTRY_VERIFY_WITH_TIMEOUT(window.queue().items().front().state == downloads::State::Finished, 60000);
    EXPECT_EQ(readFile(home.path() / "VLC 媒体播放器.zip"), download::FetchUrl(demo.url("/file/110002")));
    // The notice's click opens the folder the file went to, once the notice is up.
    QTRY_VERIFY((emit window.trayIcon()->messageClicked(), !desktop.folders.empty()));
    EXPECT_EQ(desktop.folders.front(), home.path());
    EXPECT_TRUE(window.trayIcon()->isVisible());
    window.close();
}

TEST(CompletionNotice, NamesTheFileAndTheOutcomeAndItsClickOpensTheLastFolder)
{
    FakeDesktop desktop;
    QStringList shown;
    downloads::CompletionNotice notice(
        [&shown](const QString &title, const QString &text) { shown << title + QLatin1Char('|') + text; }, desktop);
    notice.clicked(); // before any notice: nothing to open
    EXPECT_TRUE(desktop.folders.empty());
    downloads::Item item;
    item.name = gbk("甲.zip");
    item.folder = "/tmp/a";
    item.state = downloads::State::Finished;
    notice.downloadEnded(item);
    item.name = gbk("乙.zip");
    item.folder = "/tmp/b";
    item.state = downloads::State::Failed;
    item.reason = gbk("服务器回答 HTTP 404：文件不存在");
    notice.downloadEnded(item);
    EXPECT_EQ(shown,
        (QStringList{QStringLiteral("下载完成|甲.zip 已下载完成，点击打开所在文件夹。"),
            QStringLiteral("下载失败|乙.zip 下载失败：服务器回答 HTTP 404：文件不存在")}));
    notice.clicked();
    EXPECT_EQ(desktop.folders, std::vector<std::filesystem::path>{"/tmp/b"});
}
