#include "appearance/ui/windowframe.h"
#include "catalog/catalogmodel.h"
#include "common/gbk.h"
#include "desktop/kavoprocess.h"
#include "desktop/xclient.h"
#include "download/controlfile.h"
#include "download/fetch.h"
#include "download/sharepage.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/queue.h"
#include "mainwindow/mainwindow.h"
#include "support/demoservice.h"
#include "support/tempdir.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

// The program itself keeps its downloads list across an end by a signal: what was running continues at the next
// start without a word from the user, from its control record.
namespace {

struct Request
{
    std::int64_t begin;
    std::int64_t end;
};

// The bytes the demo service's log says it sent of share 110002 (start, end of what went out), from line `from`
// on. Bytes in a socket's buffers when the program ended count as sent.
std::vector<Request> rangesAsked(const std::filesystem::path &log, std::size_t from)
{
    std::vector<Request> asked;
    std::istringstream in(readFile(log));
    std::string line;
    for (std::size_t number = 0; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string demo, range;
        int share = 0;
        Request request{};
        if (number >= from && words >> demo >> range >> share >> request.begin >> request.end && range == "range"
            && share == 110002)
            asked.push_back(request);
    }
    return asked;
}

// The demo service on `port` ("0": any free one, which it prints alone on its first line), throttled, its log
// in `log`.
void startDemo(QProcess &demo, const std::filesystem::path &log, const std::string &port)
{
    demo.setStandardErrorFile(QString::fromStdString(log.string()));
    demo.start(QStringLiteral("python3"),
        {QStringLiteral(KAVO_SOURCE_DIR "/tools/demo_service.py"), QStringLiteral("--port"),
            QString::fromStdString(port), QStringLiteral("--tree"), QStringLiteral(KAVO_PUBLISHED_DIR),
            QStringLiteral("--rate"), QString::number(256 * 1024)});
}

void endBySignal(QProcess &kavo)
{
    ::kill(static_cast<pid_t>(kavo.processId()), SIGTERM);
    ASSERT_TRUE(kavo.waitForFinished(20000));
    EXPECT_EQ(kavo.exitCode(), 0);
}

} // namespace

TEST(DownloadsAcrossRestarts, ADownloadCutBySigtermContinuesAtTheNextStartFromItsCheckpoint)
{
    TempDir home;
    TempDir logs;
    const std::filesystem::path log = logs.path() / "demo.log";
    QProcess demo;
    startDemo(demo, log, "0");
    ASSERT_TRUE(demo.waitForReadyRead(10000));
    const std::string port = demo.readLine().trimmed().toStdString();
    const std::string address = "http://127.0.0.1:" + port + "/share/link?shareid=110002&uk=3500002";
    const std::filesystem::path folder = home.path() / "files";
    std::filesystem::create_directories(folder);
    {
        // The list as the program keeps it: one download added, not begun.
        downloads::Queue seed(downloads::storeFile(home.path()),
            [](const std::string &) { return download::ShareResolution{}; }, {0, 0, {}});
        seed.add(address, folder);
    }
    const QString instance = QStringLiteral("kavo-downloads-test-%1").arg(::getpid());
    const QString manifest = QStringLiteral("http://127.0.0.1:9/");
    const std::filesystem::path file = folder / "VLC 媒体播放器.zip";
    const std::filesystem::path control = folder / "VLC 媒体播放器.zip.part.ctl";

    QProcess first;
    startKavo(first, home.path(), instance, manifest);
    ASSERT_TRUE(first.waitForStarted(5000));
    // Some megabytes are on disk and recorded, and the rest still on its way.
    const auto recorded = [&control] {
        const auto record = download::parseControl(readFile(control));
        std::int64_t bytes = 0;
        for (const download::ByteRange &range : record ? record->finished : std::vector<download::ByteRange>{})
            bytes += range.size();
        return bytes;
    };
    QTRY_VERIFY_WITH_TIMEOUT(recorded() > 2 * 1024 * 1024, 60000);
    endBySignal(first);
    ASSERT_FALSE(std::filesystem::exists(file));
    const auto checkpoint = download::parseControl(readFile(control));
    ASSERT_TRUE(checkpoint.has_value());
    // The service logs a request when it ends, and it may see the cut connections of the first run only after
    // the second has begun: a fresh service on the same port, with a log of its own, sees the second run alone.
    demo.kill();
    demo.waitForFinished();
    const std::filesystem::path secondLog = logs.path() / "demo2.log";
    startDemo(demo, secondLog, port);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(secondLog).find("demo service on") != std::string::npos, 10000);

    QProcess second;
    startKavo(second, home.path(), instance, manifest);
    ASSERT_TRUE(second.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(file), 120000);
    endBySignal(second);
    // No request of the second run starts inside what the checkpoint had recorded as on disk. Ranges are asked
    // open-ended, so a connection that reaches a recorded stretch is closed there, and what the service had
    // already pushed into the socket past it is dropped unread: that figure is kept in the test's output.
    const std::vector<Request> sent = rangesAsked(secondLog, 0);
    ASSERT_FALSE(sent.empty());
    std::int64_t pushedPast = 0;
    for (const Request &request : sent) {
        for (const download::ByteRange &done : checkpoint->finished) {
            EXPECT_FALSE(request.begin >= done.begin && request.begin < done.end)
                << request.begin << " lies in the recorded " << done.begin << "-" << done.end;
            pushedPast
                += std::max<std::int64_t>(0, std::min(request.end, done.end) - std::max(request.begin, done.begin));
        }
    }
    RecordProperty("bytesPushedPastAHoleAfterRestart", std::to_string(pushedPast));
    EXPECT_EQ(readFile(file), download::FetchUrl("http://127.0.0.1:" + port + "/file/110002"));
    const auto items = downloads::readStore(downloads::storeFile(home.path())).items;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.front().state, downloads::State::Finished);
    demo.kill();
    demo.waitForFinished();
}

namespace {

// The main window of this process on the test display, with two shares of the demo service on its first
// category page, driven by real input.
class TwoFromACategoryPage : public ::testing::Test, protected FakeServices
{
protected:
    void click(const QWidget *widget, QPoint local, int button = 1)
    {
        ASSERT_TRUE(m_x.click(widget->mapToGlobal(local), 0, button));
        QTest::qWait(0);
    }

    // Right-click on row `row`, 立即下载 in the item menu, then 立即下载 in the tool that opens.
    void downloadRow(mainwindow::MainWindow &window, int row)
    {
        QTreeView *list = window.form().lists[0];
        click(list->viewport(), list->visualRect(list->model()->index(row, 0)).center(), 3);
        QMenu *menu = window.form().itemMenu;
        QTRY_VERIFY(menu->isVisible());
        const std::size_t tools = window.findChildren<download::NetdiskWindow *>().size();
        click(menu, menu->actionGeometry(menu->findChild<QAction *>(QStringLiteral("立即下载"))).center());
        QTRY_COMPARE(window.findChildren<download::NetdiskWindow *>().size(), tools + 1);
        download::NetdiskWindow *tool = window.findChildren<download::NetdiskWindow *>().back();
        QTRY_VERIFY(tool->isVisible());
        auto *start = tool->findChild<QPushButton *>(QStringLiteral("按钮_下载"));
        click(start, start->rect().center());
        QTRY_VERIFY(!start->isEnabled());
    }

    XClient m_x;
};

} // namespace

TEST_F(TwoFromACategoryPage, BothDownloadsFinishByteIdenticalToTheServicesFiles)
{
    ASSERT_TRUE(m_x.connected());
    DemoService demo(KAVO_PUBLISHED_DIR, 512 * 1024);
    ASSERT_TRUE(demo.started());
    const std::string first = demo.url("/share/link?shareid=110002&uk=3500002");
    const std::string second = demo.url("/share/link?shareid=110005&uk=3500005");
    writeFile(home.path() / "自动更新" / "软件下载.txt",
        common::gbk("(软件名称：甲-软件大小：24MB-分享时间：2020.1.1-下载地址：" + first
            + "-)\r\n(软件名称：乙-软件大小：5MB-分享时间：2020.1.1-下载地址：" + second + "-)\r\n"));
    const std::filesystem::path folder = home.path() / "files";
    std::filesystem::create_directories(folder);
    settings.write(settings::keys::SaveFolder, folder.string());
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    mainwindow::MainWindow window(services());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    click(window.frame().tabButtons()[1], {38, 35});
    QTRY_COMPARE(window.form().models[0]->rowCount(), 2);

    downloadRow(window, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!window.queue().items().empty() && window.queue().items()[0].received > 0, 20000);
    downloadRow(window, 1);
    QTRY_COMPARE(window.queue().items().size(), 2u);
    EXPECT_EQ(window.queue().items()[0].state, downloads::State::Running); // the first still runs
    QTRY_VERIFY_WITH_TIMEOUT(std::ranges::all_of(window.queue().items(),
                                 [](const downloads::Item &item) { return item.state == downloads::State::Finished; }),
        120000);
    for (const auto &[item, id] : {std::pair{0, "110002"}, {1, "110005"}}) {
        SCOPED_TRACE(id);
        const downloads::Item finished = window.queue().items()[static_cast<std::size_t>(item)];
        EXPECT_EQ(finished.file.parent_path(), folder);
        EXPECT_EQ(readFile(finished.file), download::FetchUrl(demo.url(std::string("/file/") + id)));
    }
    for (download::NetdiskWindow *tool : window.findChildren<download::NetdiskWindow *>())
        tool->close();
    window.close();
}
