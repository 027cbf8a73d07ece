#include "catalog/catalogmodel.h"
#include "catalog/loader.h"
#include "catalog/ui/catalogviews.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "download/download.h"
#include "download/fetch.h"
#include "downloads/options.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "support/demoservice.h"
#include "support/holdingserver.h"
#include "support/samplepublisher.h"
#include "support/servers.h"
#include "support/tempdir.h"
#include "ui/fakes.h"
#include "ui/fakeservices.h"
#include "update/ui/updatewindow.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTreeView>
#include <gtest/gtest.h>
#include <stop_token>

using common::gbk;
using mainwindow::MainWindow;

namespace {

class UpdateTest : public ::testing::Test, protected FakeServices
{
protected:
    void SetUp() override
    {
        writeFile(listFile(), gbk("(模块名称：Old-)\r\n"));
        fetch = [this](const std::string &) { return page; };
    }

    std::filesystem::path listFile() const { return home.path() / "自动更新" / "模块下载.txt"; }

    // Starts a main window and waits until the version check has ended or opened the update window.
    std::unique_ptr<MainWindow> start()
    {
        auto window = std::make_unique<MainWindow>(services());
        checked = std::make_unique<QSignalSpy>(window.get(), &MainWindow::versionChecked);
        QSignalSpy filled(window.get(), &MainWindow::announcementFilled);
        QSignalSpy started(window.get(), &MainWindow::startupFinished);
        window->startUp();
        EXPECT_TRUE(started.wait(10000)); // the fade-in's timers run at their pace only in an event loop
        EXPECT_TRUE(QTest::qWaitFor([&] { return checked->count() == 1 || updateWindow(); }, 10000));
        EXPECT_TRUE(filled.count() == 1 || filled.wait(10000));
        return window;
    }

    // A manifest that offers 模块下载 1.1, and whose share page (the same fake page) names `directLink`.
    static std::string offerPage(const std::string &directLink = {})
    {
        return "模块下载：是- 模块下载版本：1.1- 模块下载地址：http://127.0.0.1:1/share/link?shareid=1&amp;uk=1- "
               "dlink\\\":\\\""
            + directLink + "\\\"";
    }

    static update::UpdateWindow *updateWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<update::UpdateWindow *>(widget); window && window->isVisible())
                return window;
        }
        return nullptr;
    }

    static QPushButton *button(QWidget *window, const char *name)
    {
        return window->findChild<QPushButton *>(QString::fromUtf8(name));
    }

    // Answers the open offer with 立即更新 and waits for the refresh's notice: its text, GBK, or "" when no offer
    // was open or no notice came.
    std::string refreshNotice()
    {
        update::UpdateWindow *offer = updateWindow();
        if (offer == nullptr)
            return {};
        QTest::mouseClick(button(offer, "按钮_立即更新"), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !notifier.notices.empty(); }, 20000))
            return {};
        return notifier.notices.back().text;
    }

    // A new module list whose server sends its first 10 bytes, and the rest once the test calls finish().
    struct HeldList
    {
        std::string list = gbk("(模块名称：New one-)\r\n(模块名称：New two-)\r\n");
        HoldingServer server{
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(list.size()) + "\r\n\r\n" + list.substr(0, 10),
            list.substr(10)};
        QString progressShown() const
        {
            return QString::number(10 * 100 / list.size()) + QStringLiteral("% 更新中...");
        }
    };

    // Once the held list has been let go: the refresh says it completed, and the list and version are new.
    void expectRefreshedTo(const std::string &list)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !notifier.notices.empty(); }, 20000));
        EXPECT_EQ(notifier.notices.empty() ? "" : notifier.notices.back().text, gbk("更新完毕!"));
        EXPECT_EQ(readFile(listFile()), list);
        EXPECT_EQ(settings.read(settings::keys::ModuleVersion), "1.1");
    }

    // After a refresh that failed: the update window is gone, the old list and version stay, and nothing else
    // is left beside the list.
    void expectOldListKept()
    {
        EXPECT_TRUE(QTest::qWaitFor([] { return updateWindow() == nullptr; }));
        EXPECT_EQ(readFile(listFile()), gbk("(模块名称：Old-)\r\n"));
        EXPECT_EQ(settings.read(settings::keys::ModuleVersion), "1.0");
        for (const auto &entry : std::filesystem::directory_iterator(listFile().parent_path()))
            EXPECT_EQ(entry.path(), listFile());
    }

    // The demo service serving a tree published twice, the second time with one more module, so that a program
    // with the sample lists is offered 模块下载 1.1. The program's manifest address points at it while it lives.
    struct SecondPublish
    {
        TempDir tree;
        DemoService demo{tree.path()};
        bool ready = false;

        SecondPublish()
        {
            const SamplePublisher author(tree.path(), demo.url("/share/link?list={category}"));
            const auto clean = [&] { return author.publish().find("problems:") == std::string::npos; };
            ready = demo.started() && clean();
            author.addRecord(
                "模块下载", "图表绘制模块\t260KB\t2026.12.2\thttp://127.0.0.1/share/link?shareid=130102&uk=1");
            ready = ready && clean();
            qputenv("KAVO_MANIFEST_URL", QByteArray::fromStdString(demo.url("/manifest.html")));
        }
        ~SecondPublish() { qunsetenv("KAVO_MANIFEST_URL"); }

        std::filesystem::path list() const { return tree.path() / "自动更新" / "模块下载.txt"; }
    };

    settings::Settings settings{home.path()};
    std::string page; // the manifest the fake fetch serves, UTF-8
    std::unique_ptr<QSignalSpy> checked; // MainWindow::versionChecked of the window start() made
};

} // namespace

TEST_F(UpdateTest, AnnouncementFillsTheAdvertNoticeNameAndRunsTheSavedSearch)
{
    page = "<p>广告：Hello-</p><p>公告：Line one\r\nLine two-x</p>";
    settings.write(settings::keys::UserName, gbk("张三"));
    settings.write(settings::keys::SearchText, "Old");
    auto window = start();
    // The line may already have moved on by a character or two.
    EXPECT_TRUE(window->form().advertisement->text().contains(QStringLiteral("llo")));
    EXPECT_EQ(window->form().notice->toPlainText(), QStringLiteral("公告：\n\nLine one\nLine two"));
    EXPECT_EQ(window->form().nameField->text(), QStringLiteral("张三"));
    EXPECT_EQ(window->form().searchBox->text(), QStringLiteral("Old"));
    EXPECT_EQ(window->form().searchBox->palette().color(QPalette::Text), QColor(Qt::black));
    QTRY_COMPARE(window->form().models[5]->rowCount(), 1);
    EXPECT_EQ(updateWindow(), nullptr);
}

TEST_F(UpdateTest, HintAsSavedSearchRunsNothingAndNoPageLeavesTheHeading)
{
    settings.write(settings::keys::SearchText, gbk("请输入要查找的名称"));
    auto window = start();
    EXPECT_EQ(window->form().notice->toPlainText(), QStringLiteral("公告：\n\n"));
    EXPECT_EQ(window->form().advertisement->text(), QString());
    EXPECT_EQ(window->form().searchBox->palette().color(QPalette::Text), QColor(192, 192, 192));
    EXPECT_TRUE(notifier.notices.empty()); // no search ran, so no "not found"
    EXPECT_EQ(settings.read(settings::keys::ModuleVersion), "1.0");
}

TEST_F(UpdateTest, LaterChangesNothingAndTheNextStartAsksAgain)
{
    page = offerPage();
    auto window = start();
    update::UpdateWindow *offer = updateWindow();
    ASSERT_NE(offer, nullptr);
    EXPECT_EQ(offer->windowTitle(), QStringLiteral("软件自动更新"));
    EXPECT_EQ(offer->size(), QSize(313, 136));
    EXPECT_FALSE(offer->windowFlags() & Qt::WindowCloseButtonHint);
    // Modal for the main window; the check waits for it.
    EXPECT_EQ(offer->windowModality(), Qt::WindowModal);
    EXPECT_EQ(offer->parentWidget(), window.get());
    EXPECT_EQ(QApplication::activeModalWidget(), offer);
    EXPECT_EQ(checked->count(), 0);
    QTest::mouseClick(button(offer, "按钮_以后再说"), Qt::LeftButton);
    QTRY_COMPARE(updateWindow(), nullptr);
    ASSERT_EQ(checked->count(), 1);
    EXPECT_TRUE(checked->front().front().toBool());
    EXPECT_EQ(readFile(listFile()), gbk("(模块名称：Old-)\r\n"));
    EXPECT_EQ(settings.read(settings::keys::ModuleVersion), "1.0");
    window.reset();
    auto again = start();
    EXPECT_NE(updateWindow(), nullptr);
    updateWindow()->close();
}

TEST_F(UpdateTest, FailedRefreshKeepsTheOldListAndVersionAndSaysSo)
{
    page = offerPage();
    auto window = start();
    // The share page was unreachable, so there is no direct link and no download is started.
    EXPECT_EQ(refreshNotice(),
        gbk("更新失败：下载地址无效：分享页面中没有找到新列表的下载直链。原来的列表没有改动，下次启动时会再次提示更新"
            "。"));
    expectOldListKept();
}

TEST_F(UpdateTest, CompletedRefreshFromTheDemoServiceFetchesTheListOfASecondPublish)
{
    SecondPublish published;
    ASSERT_TRUE(published.ready);
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    auto window = start();
    ASSERT_EQ(refreshNotice(), gbk("更新完毕!"));
    QTRY_COMPARE(updateWindow(), nullptr);
    const std::string list = readFile(listFile());
    EXPECT_NE(list.find(gbk("图表绘制模块")), std::string::npos);
    EXPECT_EQ(list, readFile(published.list()));
    EXPECT_EQ(settings.read(settings::keys::ModuleVersion), "1.1");
    EXPECT_EQ(window->findChild<QLineEdit *>(QStringLiteral("模块下载_编辑框"))->text(), QStringLiteral("1.1"));
}

// The list's download goes through the proxy that the downloads list's options name.
TEST_F(UpdateTest, RefreshDownloadsTheListThroughTheOptionsProxy)
{
    SecondPublish published;
    ASSERT_TRUE(published.ready);
    const std::filesystem::path proxyLog = home.path() / "socks.log";
    SocksProxy socks(proxyLog);
    ASSERT_TRUE(
        downloads::writeQueueOptions(settings, {3, 0, {download::ProxySetting::Mode::Manual, socks.url("socks5h")}}));
    fetch = [](const std::string &url) { return download::FetchUrl(url); }; // the pages go straight
    auto window = start();
    ASSERT_EQ(refreshNotice(), gbk("更新完毕!"));
    EXPECT_EQ(readFile(listFile()), readFile(published.list()));
    EXPECT_NE(readFile(proxyLog).find("connected to 127.0.0.1"), std::string::npos) << readFile(proxyLog);
    QTRY_COMPARE(updateWindow(), nullptr);
}

TEST_F(UpdateTest, AnythingButACategoryListLeavesTheOldListInPlace)
{
    // A server that answers 200 with its error page, or sends some other file, in place of the list.
    const struct
    {
        const char *name;
        std::string body;
    } cases[]{{"error page", "<html><body><h1>Error: file not found</h1></body></html>\r\n"},
        {"other file", "\x89PNG\r\n\x1A\n(" + std::string(3000, '\x7E') + ")\r\n"}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        writeFile(listFile(), gbk("(模块名称：Old-)\r\n"));
        settings.write(settings::keys::ModuleVersion, "1.0");
        HoldingServer server(
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(row.body.size()) + "\r\n\r\n" + row.body, {});
        server.finish();
        notifier.notices.clear();
        page = offerPage(server.url("/list"));
        auto window = start();
        EXPECT_EQ(refreshNotice().rfind(gbk("更新失败："), 0), 0u);
        expectOldListKept();
    }
}

TEST_F(UpdateTest, ClosingTheWindowMidDownloadStillFinishesTheRefresh)
{
    HeldList held;
    page = offerPage(held.server.url("/list"));
    auto window = start();
    update::UpdateWindow *offer = updateWindow();
    ASSERT_NE(offer, nullptr);
    QTest::mouseClick(button(offer, "按钮_立即更新"), Qt::LeftButton);
    QTRY_COMPARE(offer->findChild<QLabel *>(QStringLiteral("标签_进度"))->text(), held.progressShown());
    QTest::mouseClick(button(offer, "按钮_以后再说"), Qt::LeftButton);
    QTRY_COMPARE(updateWindow(), nullptr);
    EXPECT_EQ(checked->count(), 1);
    EXPECT_TRUE(notifier.notices.empty());

    held.server.finish();
    expectRefreshedTo(held.list);
}

TEST_F(UpdateTest, RefreshRunsBesideADownloadOfTheToolAndShowsOnlyItsOwnProgress)
{
    // The netdisk tool's download: a quarter of 4000 bytes has arrived, and the rest is held back.
    HoldingServer tool(
        "HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" + std::string(1000, 'a'), std::string(3000, 'b'));
    ASSERT_TRUE(downloader.Start(download::toolTaskParam(tool.url("/tool"), (home.path() / "tool.bin").string(), {})));
    QTRY_COMPARE(downloader.Received(), 1000);

    HeldList held;
    page = offerPage(held.server.url("/list"));
    auto window = start();
    update::UpdateWindow *offer = updateWindow();
    ASSERT_NE(offer, nullptr);
    QTest::mouseClick(button(offer, "按钮_立即更新"), Qt::LeftButton);
    QTRY_COMPARE(offer->findChild<QLabel *>(QStringLiteral("标签_进度"))->text(), held.progressShown());
    EXPECT_EQ(offer->findChild<QProgressBar *>(QStringLiteral("进度条1"))->value(),
        static_cast<int>(10 * 100 / held.list.size()));

    held.server.finish();
    expectRefreshedTo(held.list);
    // The tool's download went on untouched, and ends on its own.
    EXPECT_TRUE(downloader.running());
    EXPECT_EQ(downloader.Received(), 1000);
    tool.finish();
    QTRY_VERIFY(!downloader.running());
    EXPECT_EQ(readFile(home.path() / "tool.bin"), std::string(1000, 'a') + std::string(3000, 'b'));
}

// The announcement fill and the version check wait on a manifest server that accepted and never answers. The
// window still paints meanwhile. Then the window and every service main() owns go first, the quit's stop
// request ends the fetches, and the tasks that waited on them end without touching what has gone.
TEST_F(UpdateTest, QuittingWhileTheManifestFetchHangsEndsEveryTaskAndTouchesNothingGone)
{
    HoldingServer server("", "");
    qputenv("KAVO_MANIFEST_URL", QByteArray::fromStdString(server.url("/manifest.html")));
    std::stop_source quitting;
    fetch = [stop = quitting.get_token()](const std::string &url) { return download::FetchUrl(url, {.stop = stop}); };
    auto ownSettings = std::make_unique<settings::Settings>(home.path());
    auto window = std::make_unique<MainWindow>(mainwindow::Services{*ownSettings, home.path(), sound, desktop, notifier,
        picker, picturePicker, fetch, mailSender, common::networkPool(), nullptr, nullptr});
    window->startUp();
    // The notice and the version check share the start's one read of the page: one request, two waiting tasks.
    QTRY_COMPARE_WITH_TIMEOUT(common::networkPool().activeThreadCount(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests(), 1, 10000);
    // Qt paints with the help of its global pool: waiting tasks must not fill it.
    EXPECT_FALSE(window->grab().isNull());
    EXPECT_EQ(server.requests(), 1);
    EXPECT_EQ(common::networkPool().activeThreadCount(), 2);

    window.reset();
    ownSettings.reset();
    quitting.request_stop();
    // Without the stop each remaining fetch would wait for its 60-second stall limit.
    QTRY_VERIFY_WITH_TIMEOUT(common::networkPool().waitForDone(0), 20000);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(notifier.notices.empty());
    qunsetenv("KAVO_MANIFEST_URL");
}

TEST_F(UpdateTest, RecordsARefreshBringsAreMarkedUntilTheNextRefresh)
{
    TempDir tree;
    DemoService demo(tree.path());
    ASSERT_TRUE(demo.started());
    const SamplePublisher author(tree.path(), demo.url("/share/link?list={category}"));
    ASSERT_EQ(author.publish().find("problems:"), std::string::npos);
    // The user has the list as first published.
    writeFile(listFile(), readFile(tree.path() / "自动更新" / "模块下载.txt"));
    qputenv("KAVO_MANIFEST_URL", QByteArray::fromStdString(demo.url("/manifest.html")));
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    const auto refresh = [&](const char *addedName) {
        author.addRecord(
            "模块下载", std::string(addedName) + "\t260KB\t2026.12.2\thttp://127.0.0.1/share/link?shareid=1");
        ASSERT_EQ(author.publish().find("problems:"), std::string::npos);
        notifier.notices.clear();
        auto window = start();
        ASSERT_EQ(refreshNotice(), gbk("更新完毕!"));
        EXPECT_TRUE(window->form().notice->toPlainText().endsWith(QStringLiteral("新记录：模块下载 1 条")));
    };
    // The names of the marked rows, and how many rows there are.
    const auto marked = [&](std::size_t &rows) {
        auto window = start();
        if (QWidget *offer = updateWindow())
            offer->close();
        rows = catalog::loadCategory(home.path(), catalog::category(3)).size();
        window->tabRoutine(3);
        const catalog::CatalogModel *model = window->form().models[2];
        const QAbstractItemModel *shown = window->form().lists[2]->model();
        EXPECT_TRUE(QTest::qWaitFor([&] { return static_cast<std::size_t>(model->rowCount()) == rows; }));
        std::vector<std::string> names;
        for (int row = 0; row < model->rowCount(); ++row) {
            const bool isNew = model->data(model->index(row, 0), catalog::CatalogModel::NewRole).toBool();
            if (isNew)
                names.push_back(common::utf8FromGbk(model->text(row, 0)));
            EXPECT_EQ(shown->index(row, 0).data(Qt::FontRole).value<QFont>().bold(), isNew);
        }
        return names;
    };

    std::size_t before = 0;
    EXPECT_TRUE(marked(before).empty());
    refresh("图表绘制模块");
    std::size_t after = 0;
    EXPECT_EQ(marked(after), std::vector<std::string>{"图表绘制模块"});
    EXPECT_EQ(after, before + 1);
    refresh("声音播放模块");
    EXPECT_EQ(marked(after), std::vector<std::string>{"声音播放模块"});
    qunsetenv("KAVO_MANIFEST_URL");
}
