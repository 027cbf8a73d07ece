#include "appearance/ui/windowframe.h"
#include "catalog/catalogmodel.h"
#include "common/gbk.h"
#include "desktop/kavoprocess.h"
#include "desktop/xclient.h"
#include "download/controlfile.h"
#include "download/fetch.h"
#include "download/partfiles.h"
#include "download/sharepage.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/options.h"
#include "downloads/queue.h"
#include "downloads/ui/downloadswindow.h"
#include "mainwindow/mainwindow.h"
#include "support/demoservice.h"
#include "support/tempdir.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>
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

namespace {

// The numbers of the lines of `log` that `pattern` finds something in.
std::vector<std::size_t> linesMatching(const std::filesystem::path &log, const std::string &pattern)
{
    const std::regex expression(pattern);
    std::vector<std::size_t> numbers;
    std::istringstream in(readFile(log));
    std::string line;
    for (std::size_t number = 0; std::getline(in, line); ++number) {
        if (std::regex_search(line, expression))
            numbers.push_back(number);
    }
    return numbers;
}

// The requests of share `share`'s file that the demo service answered, as its log tells when each began.
std::string fileRequests(int share)
{
    return "GET /file/" + std::to_string(share) + "\\?";
}

// The downloads list over a queue of the program's own, with the share pages of the throttled demo service, on
// the test display; its row buttons are pressed with real input.
class DownloadsListControls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_x.connected());
        startDemo(m_demo, m_log, "0");
        ASSERT_TRUE(m_demo.waitForReadyRead(10000));
        m_port = m_demo.readLine().trimmed().toStdString();
        std::filesystem::create_directories(m_folder);
    }
    void TearDown() override
    {
        delete m_window.data();
        m_queue.reset();
        m_demo.kill();
        m_demo.waitForFinished();
    }

    // Shows the list over a queue that runs at most `concurrency` downloads at once.
    void open(int concurrency)
    {
        const download::ProxySetting direct{download::ProxySetting::Mode::None, {}};
        m_queue = std::make_unique<downloads::Queue>(downloads::storeFile(m_home.path()),
            downloads::shareResolver([direct] { return direct; }), downloads::QueueOptions{concurrency, 0, direct});
        m_window = new downloads::DownloadsWindow({*m_queue, m_settings, m_desktop, *m_prompter});
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    }
    std::uint64_t add(int share)
    {
        const std::string id = std::to_string(share);
        return m_queue->add(url("/share/link?shareid=" + id + "&uk=350" + id.substr(2)), m_folder);
    }
    std::optional<downloads::Item> item(std::uint64_t id) const
    {
        for (const downloads::Item &entry : m_queue->items()) {
            if (entry.id == id)
                return entry;
        }
        return std::nullopt;
    }
    bool reached(std::uint64_t id, std::int64_t bytes) const
    {
        const auto entry = item(id);
        return entry && entry->state == downloads::State::Running && entry->received > bytes;
    }
    bool finished(std::uint64_t id) const
    {
        const auto entry = item(id);
        return entry && entry->state == downloads::State::Finished;
    }
    // A real click on the button `name` of the row of download `id`, once the list shows it enabled.
    void press(std::uint64_t id, const char *name)
    {
        const auto button = [&]() -> QPushButton * {
            auto *row = m_window->findChild<QWidget *>(QStringLiteral("操作_%1").arg(id));
            auto *found = row ? row->findChild<QPushButton *>(QString::fromUtf8(name)) : nullptr;
            return found && found->isVisible() && found->isEnabled() ? found : nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(button(), 10000);
        ASSERT_TRUE(m_x.click(button()->mapToGlobal(button()->rect().center()), 0));
        QTest::qWait(0);
    }
    // Presses the button captioned `caption` of the question box that 删除 opens, with real input, once the box
    // is on the screen. The box runs its own event loop, so a timer of the window watches for it.
    void answerRemoveBox(const char *caption)
    {
        auto *watch = new QTimer(m_window);
        QObject::connect(watch, &QTimer::timeout, watch, [this, watch, caption] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->windowHandle() || !box->windowHandle()->isExposed())
                return;
            for (QPushButton *button : box->findChildren<QPushButton *>()) {
                if (button->text() == QString::fromUtf8(caption) && button->isVisible()) {
                    watch->deleteLater();
                    watch->stop();
                    (void)m_x.click(button->mapToGlobal(button->rect().center()), 0);
                }
            }
        });
        watch->start(50);
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + m_port + path; }
    // The service's file, from an unthrottled twin of it.
    std::string served(int share) const
    {
        return download::FetchUrl(m_reference.url("/file/" + std::to_string(share)));
    }

    XClient m_x;
    TempDir m_home;
    TempDir m_logs;
    std::filesystem::path m_log = m_logs.path() / "demo.log";
    std::filesystem::path m_folder = m_home.path() / "files";
    QProcess m_demo;
    std::string m_port;
    DemoService m_reference;
    settings::Settings m_settings{m_home.path()};
    FakeDesktop m_desktop;
    std::unique_ptr<downloads::RemovePrompter> m_prompter = downloads::createRemovePrompter();
    std::unique_ptr<downloads::Queue> m_queue;
    QPointer<downloads::DownloadsWindow> m_window;
};

} // namespace

TEST_F(DownloadsListControls, PausedDownloadFetchesNothingAndContinuesFromItsRecord)
{
    open(3);
    const std::uint64_t id = add(110002);
    QTRY_VERIFY_WITH_TIMEOUT(reached(id, 2 * 1024 * 1024), 60000);
    press(id, "按钮_暂停");
    QTRY_VERIFY_WITH_TIMEOUT(item(id)->state == downloads::State::Paused, 10000);
    // Every connection the service opened for the download has ended: it logs a range when it does.
    QTRY_VERIFY_WITH_TIMEOUT(linesMatching(m_log, fileRequests(110002)).size() == rangesAsked(m_log, 0).size(), 30000);
    const std::filesystem::path control = download::partialFileNames(item(id)->file)[1];
    const std::string record = readFile(control);
    const auto checkpoint = download::parseControl(record);
    ASSERT_TRUE(checkpoint.has_value());
    const std::size_t pausedAt = linesMatching(m_log, ".").size();
    // The queue shows a download paused once its task has returned: nothing of it runs any more, and asked to
    // fill its places again, the queue leaves it paused.
    m_queue->setOptions(m_queue->options());
    EXPECT_EQ(item(id)->state, downloads::State::Paused);

    press(id, "按钮_暂停"); // its caption now reads 继续
    QTRY_VERIFY_WITH_TIMEOUT(finished(id), 120000);
    EXPECT_EQ(readFile(item(id)->file), served(110002));
    const std::vector<Request> continued = rangesAsked(m_log, pausedAt);
    ASSERT_FALSE(continued.empty());
    for (const Request &request : continued) {
        for (const download::ByteRange &done : checkpoint->finished)
            EXPECT_FALSE(request.begin >= done.begin && request.begin < done.end)
                << request.begin << " lies in the recorded " << done.begin << "-" << done.end;
    }
}

TEST_F(DownloadsListControls, RemoveKeepsOrDeletesTheFileAndItsPartialData)
{
    const struct
    {
        const char *name;
        int share;
        bool finishFirst;
        const char *answer; // in the question box
        bool fileStays;
        bool partialStays;
    } rows[] = {
        {"running, keeping", 110002, false, "保留文件", false, true},
        {"running, deleting", 110002, false, "连同文件删除", false, false},
        {"finished, keeping", 110006, true, "保留文件", true, false},
        {"finished, deleting", 110006, true, "连同文件删除", false, false},
    };
    open(3);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint64_t id = add(row.share);
        if (row.finishFirst) {
            QTRY_VERIFY_WITH_TIMEOUT(finished(id), 60000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(reached(id, 1024 * 1024), 60000);
        }
        const std::filesystem::path file = item(id)->file;
        answerRemoveBox(row.answer);
        press(id, "按钮_删除");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->findChild<QWidget *>(QStringLiteral("操作_%1").arg(id)), 10000);
        EXPECT_FALSE(item(id).has_value());
        EXPECT_TRUE(downloads::readStore(downloads::storeFile(m_home.path())).items.empty());
        const auto [part, control, temporary] = download::partialFileNames(file);
        EXPECT_EQ(std::filesystem::exists(file), row.fileStays);
        EXPECT_EQ(std::filesystem::exists(part), row.partialStays);
        EXPECT_EQ(std::filesystem::exists(control), row.partialStays);
        if (row.fileStays) {
            EXPECT_EQ(readFile(file), served(row.share));
        }
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
    }
}

TEST_F(DownloadsListControls, WithOnePlaceTheSecondDownloadWaitsForTheFirstToEnd)
{
    open(1);
    const std::uint64_t first = add(110005);
    const std::uint64_t second = add(110006);
    QTRY_VERIFY_WITH_TIMEOUT(reached(first, 0), 60000);
    EXPECT_EQ(item(second)->state, downloads::State::Waiting);
    QTRY_VERIFY_WITH_TIMEOUT(finished(first) && finished(second), 120000);
    EXPECT_EQ(readFile(item(first)->file), served(110005));
    EXPECT_EQ(readFile(item(second)->file), served(110006));
    // The first opens connections until its last stretch; the second's share page is asked for only after.
    const std::vector<std::size_t> firstRequests = linesMatching(m_log, fileRequests(110005));
    const std::vector<std::size_t> secondLines = linesMatching(m_log, "110006");
    ASSERT_FALSE(firstRequests.empty());
    ASSERT_FALSE(secondLines.empty());
    EXPECT_LT(firstRequests.back(), secondLines.front());
}
