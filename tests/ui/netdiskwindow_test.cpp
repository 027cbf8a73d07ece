#include "common/gbk.h"
#include "common/networkpool.h"
#include "common/qtext.h"
#include "download/download.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/queue.h"
#include "settings/settings.h"
#include "support/demoservice.h"
#include "support/tempdir.h"
#include "ui/fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <future>
#include <gtest/gtest.h>

using common::gbk;
using download::NetdiskWindow;

namespace {

// 50 bytes exactly.
const std::string Address50 = "http://127.0.0.1:9/share/link?shareid=1&uk=2&x=123";

class NetdiskWindowTest : public ::testing::Test
{
protected:
    QPointer<NetdiskWindow> open(const std::string &address)
    {
        auto *window
            = new NetdiskWindow({settings, *queue, notifier, sound, picker, fetch, common::networkPool()}, address);
        window->show();
        return window;
    }

    template <typename W> static W *child(QWidget *window, const char *name)
    {
        return window->findChild<W *>(QString::fromUtf8(name));
    }

    void setFolder(QWidget *window, const std::filesystem::path &folder)
    {
        child<QLineEdit>(window, "编辑框_路径")->setText(QString::fromStdString(folder.string()));
    }

    TempDir home;
    settings::Settings settings{home.path()};
    FakeNotifier notifier;
    FakeSound sound;
    FakePicker picker;
    std::vector<std::string> fetched;
    download::Fetcher fetch = [this](const std::string &url) {
        fetched.push_back(url);
        return std::string();
    };
    TempDir storeFolder; // the downloads list's, apart from the folder the files go to
    std::unique_ptr<downloads::Queue> queue = std::make_unique<downloads::Queue>(
        downloads::storeFile(storeFolder.path()),
        [this](const std::string &address) { return download::resolveShare(address, fetch); },
        downloads::QueueOptions{});
};

} // namespace

TEST_F(NetdiskWindowTest, OpensWithTheAddressTheSavedFolderAndTheAutoCloseSetting)
{
    settings.write(settings::keys::SaveFolder, "/tmp");
    settings.writeFlag(settings::keys::AutoCloseTool, true);
    QPointer<NetdiskWindow> window = open(gbk(" http://x"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("百度网盘软件下载"));
    EXPECT_EQ(window->size(), QSize(364, 162));
    EXPECT_EQ(child<QLineEdit>(window, "编辑框_地址")->text(), QStringLiteral(" http://x"));
    EXPECT_EQ(child<QLineEdit>(window, "编辑框_路径")->text(), QStringLiteral("/tmp"));
    EXPECT_TRUE(child<QCheckBox>(window, "选择框2")->isChecked());
    EXPECT_EQ(child<QLabel>(window, "透明标签进度")->text(), QStringLiteral("0%"));
    window->close();
}

TEST_F(NetdiskWindowTest, ShortAddressIsRefusedAndTheToolCloses)
{
    QPointer<NetdiskWindow> window = open(Address50.substr(0, 49));
    setFolder(window, home.path());
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, gbk("抱歉，当前下载器暂不支持其他网盘的下载地址!"));
    EXPECT_TRUE(notifier.notices[0].modal);
    QTRY_VERIFY(window.isNull());
    EXPECT_TRUE(fetched.empty());
}

TEST_F(NetdiskWindowTest, FiftyByteAddressIsFetchedAndAnEmptyFolderIsNot)
{
    QPointer<NetdiskWindow> window = open(Address50);
    child<QLineEdit>(window, "编辑框_路径")->clear();
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, gbk("请输入正确的文件保存路径!"));
    EXPECT_FALSE(window.isNull());
    EXPECT_TRUE(fetched.empty());

    setFolder(window, home.path());
    QSignalSpy resolved(window.data(), &NetdiskWindow::resolved);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_TRUE(resolved.wait(5000));
    EXPECT_EQ(fetched, std::vector<std::string>{Address50});
    // The page gave no description: refused, and the tool closes.
    EXPECT_EQ(notifier.notices.back().text, gbk("抱歉，当前下载器暂不支持其他网盘的下载地址!"));
    QTRY_VERIFY(window.isNull());
}

TEST_F(NetdiskWindowTest, PickerAndPathBoxWriteTheSaveFolder)
{
    QPointer<NetdiskWindow> window = open(Address50);
    setFolder(window, home.path());
    picker.answer = QStringLiteral("/srv/downloads");
    QTest::mouseClick(child<QPushButton>(window, "按钮_浏览"), Qt::LeftButton);
    EXPECT_EQ(picker.prompts, QStringList{QStringLiteral("Verrin 百度网盘 快速下载工具 QQ500600700")});
    // The dialog starts on the folder shown, and the next time on the one just chosen.
    QTest::mouseClick(child<QPushButton>(window, "按钮_浏览"), Qt::LeftButton);
    EXPECT_EQ(
        picker.starts, (QStringList{QString::fromStdString(home.path().string()), QStringLiteral("/srv/downloads")}));
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), "/srv/downloads");
    window->close();
}

TEST_F(NetdiskWindowTest, ATypedFolderIsWrittenWhenTheTypingEndsNotAtEveryKey)
{
    settings.write(settings::keys::SaveFolder, "/tmp");
    QPointer<NetdiskWindow> window = open(Address50);
    auto *box = child<QLineEdit>(window, "编辑框_路径");
    box->clear();
    QTest::keyClicks(box, QStringLiteral("/srv/a"));
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), "/tmp");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), "/srv/a");
    // Typed, and the window closed without a Return: the folder is kept all the same.
    QTest::keyClicks(box, QStringLiteral("b"));
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), "/srv/a");
    window->close();
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), "/srv/ab");
}

// The user's standard folders come from HOME; each test gets its own.
class UserHome
{
public:
    UserHome()
        : m_saved(qgetenv("HOME"))
    {
        std::filesystem::create_directories(downloads());
        qputenv("HOME", QByteArray::fromStdString(m_home.path().string()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((m_home.path() / ".config").string()));
    }
    ~UserHome()
    {
        qputenv("HOME", m_saved);
        qunsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::path downloads() const { return m_home.path() / "Downloads"; }

private:
    TempDir m_home;
    QByteArray m_saved;
};

TEST_F(NetdiskWindowTest, AnUnusableSavedFolderGivesWayToTheDownloadFolder)
{
    const UserHome user;
    const QString downloads = QString::fromStdString(user.downloads().string());
    const struct
    {
        const char *name;
        std::string stored;
        QString shown;
    } cases[] = {
        {"Windows default", "C:\\Users\\Administrator\\Desktop\\", downloads},
        {"folder gone", (home.path() / "gone").string(), downloads},
        {"nothing stored", "", downloads},
        {"existing folder", home.path().string(), QString::fromStdString(home.path().string())},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        settings.write(settings::keys::SaveFolder, row.stored);
        QPointer<NetdiskWindow> window = open(Address50);
        EXPECT_EQ(child<QLineEdit>(window, "编辑框_路径")->text(), row.shown);
        // Opening the tool changes nothing; starting a download keeps the folder it used.
        EXPECT_EQ(settings.read(settings::keys::SaveFolder), row.stored);
        QSignalSpy resolved(window.data(), &NetdiskWindow::resolved);
        QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
        EXPECT_EQ(common::toQString(settings.read(settings::keys::SaveFolder)), row.shown);
        ASSERT_TRUE(resolved.wait(5000));
        QTRY_VERIFY(window.isNull());
    }
}

TEST_F(NetdiskWindowTest, CancelledPickerPutsTheDownloadFolderIntoThePathBox)
{
    const UserHome user;
    QPointer<NetdiskWindow> window = open(Address50);
    QTest::mouseClick(child<QPushButton>(window, "按钮_浏览"), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>(window, "编辑框_路径")->text(), QString::fromStdString(user.downloads().string()));
    EXPECT_EQ(settings.read(settings::keys::SaveFolder), user.downloads().string());
    window->close();
}

TEST_F(NetdiskWindowTest, AutoCloseCaptionAndBoxEachFlipOnce)
{
    QPointer<NetdiskWindow> window = open(Address50);
    QTest::mousePress(child<QLabel>(window, "透明标签1"), Qt::LeftButton);
    EXPECT_TRUE(child<QCheckBox>(window, "选择框2")->isChecked());
    EXPECT_EQ(settings.read(settings::keys::AutoCloseTool), gbk("是"));
    QTest::mouseClick(child<QCheckBox>(window, "选择框2"), Qt::LeftButton);
    EXPECT_FALSE(child<QCheckBox>(window, "选择框2")->isChecked());
    EXPECT_EQ(settings.read(settings::keys::AutoCloseTool), gbk("否"));
    window->close();
}

TEST_F(NetdiskWindowTest, FailedDownloadIsToldAndTheToolStaysOpen)
{
    // A file the server does not have fails at once: a refused connection would be tried again for a while.
    DemoService demo;
    ASSERT_TRUE(demo.started());
    const std::string gone = demo.url("/file/999999");
    fetch = [gone](const std::string &url) {
        if (url.find("third=0") != std::string::npos)
            return R"(dlink\":\")" + gone + R"(\")";
        return std::string(
            "<meta content=\"文件名:f.zip 文件大小:1KB 分享者:x 分享时间:t 下载次数:3\" name=\"description\"/>");
    };
    settings.writeFlag(settings::keys::AutoCloseTool, true);
    QPointer<NetdiskWindow> window = open(Address50);
    setFolder(window, home.path());
    QSignalSpy ended(window.data(), &NetdiskWindow::downloadEnded);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(20000));
    EXPECT_FALSE(ended.at(0).at(0).toBool());
    EXPECT_FALSE(child<QPushButton>(window, "按钮_下载")->isEnabled());
    ASSERT_FALSE(notifier.notices.empty());
    EXPECT_EQ(notifier.notices.back().text, gbk("下载失败：服务器回答 HTTP 404：文件不存在!"));
    EXPECT_FALSE(window.isNull());
    EXPECT_EQ(child<QLabel>(window, "状态栏")->text(), QStringLiteral("文件大小：1KB 分享时间；t 下载次数；3次"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 1); // only the settings file
    window->close();
}

TEST_F(NetdiskWindowTest, ShareWithoutADirectLinkIsToldWithoutStartingADownload)
{
    fetch = [](const std::string &) {
        return std::string(
            "<meta content=\"文件名:f.zip 文件大小:1KB 分享者:x 分享时间:t 下载次数:3\" name=\"description\"/>");
    };
    QPointer<NetdiskWindow> window = open(Address50);
    setFolder(window, home.path());
    QSignalSpy resolved(window.data(), &NetdiskWindow::resolved);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_TRUE(resolved.wait(5000));
    ASSERT_FALSE(notifier.notices.empty());
    EXPECT_EQ(notifier.notices.back().text, gbk("下载失败：下载地址无效：分享页面中没有找到下载直链!"));
    EXPECT_TRUE(queue->items().empty());
    EXPECT_FALSE(child<QTimer>(window, "时钟1")->isActive());
    EXPECT_EQ(child<QLabel>(window, "透明标签进度")->text(), QStringLiteral("0%"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 1); // only the settings file
    window->close();
}

TEST_F(NetdiskWindowTest, SharePagesAreReadApartFromQtsOwnPool)
{
    std::promise<void> answer;
    fetch = [silence = answer.get_future().share()](const std::string &) {
        silence.wait_for(std::chrono::seconds(20));
        return std::string();
    };
    QPointer<NetdiskWindow> window = open(Address50);
    setFolder(window, home.path());
    QSignalSpy resolved(window.data(), &NetdiskWindow::resolved);
    const int waiting = common::networkPool().activeThreadCount();
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    // Qt paints with the help of its global pool: a page that does not come must not fill it.
    QTRY_COMPARE(common::networkPool().activeThreadCount(), waiting + 1);
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0);
    EXPECT_FALSE(window->grab().isNull());
    answer.set_value();
    ASSERT_TRUE(resolved.wait(5000));
    QTRY_VERIFY(window.isNull()); // no description: refused, and the tool closes
}

TEST_F(NetdiskWindowTest, ASecondToolDownloadsBesideTheFirstAndEachShowsItsOwnProgress)
{
    // Before, one download object served the program and the second press was refused.
    DemoService demo(KAVO_PUBLISHED_DIR, 64 * 1024);
    ASSERT_TRUE(demo.started());
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    TempDir second;
    QPointer<NetdiskWindow> first = open(demo.url("/share/link?shareid=110002&uk=3500002"));
    setFolder(first, home.path());
    QTest::mouseClick(child<QPushButton>(first, "按钮_下载"), Qt::LeftButton);
    QTRY_COMPARE(queue->items().size(), 1u);
    QPointer<NetdiskWindow> other = open(demo.url("/share/link?shareid=110002&uk=3500002"));
    EXPECT_TRUE(child<QPushButton>(other, "按钮_下载")->isEnabled());
    setFolder(other, second.path());
    QTest::mouseClick(child<QPushButton>(other, "按钮_下载"), Qt::LeftButton);
    QTRY_COMPARE(queue->items().size(), 2u);
    QTRY_VERIFY_WITH_TIMEOUT(child<QProgressBar>(other, "进度条1")->value() > 0, 20000);
    const auto items = queue->items();
    EXPECT_EQ(items[0].state, downloads::State::Running);
    EXPECT_EQ(items[1].state, downloads::State::Running);
    EXPECT_TRUE(notifier.notices.empty());
    for (const auto &window : {first, other}) {
        auto *label = child<QLabel>(window, "透明标签进度");
        EXPECT_TRUE(label->text().endsWith(QStringLiteral("% 下载中...")));
        EXPECT_FALSE(child<QPushButton>(window, "按钮_下载")->isEnabled());
        window->close();
    }
    QTRY_VERIFY(first.isNull() && other.isNull());
}

TEST_F(NetdiskWindowTest, TheListButtonAsksForTheDownloadsList)
{
    QPointer<NetdiskWindow> window = open(Address50);
    QSignalSpy asked(window.data(), &NetdiskWindow::downloadsListRequested);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载列表"), Qt::LeftButton);
    EXPECT_EQ(asked.count(), 1);
    window->close();
}

TEST_F(NetdiskWindowTest, ProgressBarTellsTheSpeedAndTimeLeftWhileTheLabelKeepsItsText)
{
    DemoService demo(KAVO_PUBLISHED_DIR, 512 * 1024);
    ASSERT_TRUE(demo.started());
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    QPointer<NetdiskWindow> window = open(demo.url("/share/link?shareid=110002&uk=3500002"));
    setFolder(window, home.path());
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    auto *bar = child<QProgressBar>(window, "进度条1");
    QTRY_VERIFY_WITH_TIMEOUT(bar->toolTip().startsWith(QStringLiteral("速度 ")) && bar->value() > 0, 20000);
    EXPECT_TRUE(bar->toolTip().contains(QStringLiteral("/s，剩余时间 ")));
    EXPECT_TRUE(child<QLabel>(window, "透明标签进度")->text().endsWith(QStringLiteral("% 下载中...")));
    // The window goes before the list; the download stays on it.
    window->close();
    QTRY_VERIFY(window.isNull());
    EXPECT_EQ(queue->items().size(), 1u);
}

TEST_F(NetdiskWindowTest, DownloadsAShareFromTheDemoServiceThroughTheWindow)
{
    DemoService demo;
    ASSERT_TRUE(demo.started());
    const std::string address = demo.url("/share/link?shareid=110002&uk=3500002");
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    settings.writeFlag(settings::keys::AutoCloseTool, true);
    const std::filesystem::path folder = home.path() / "downloads";
    std::filesystem::create_directories(folder);

    QPointer<NetdiskWindow> window = open(address);
    setFolder(window, folder);
    QSignalSpy ended(window.data(), &NetdiskWindow::downloadEnded);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_TRUE(ended.at(0).at(0).toBool());
    QTRY_VERIFY(window.isNull()); // auto-close after a finished download
    const std::string expected = download::FetchUrl(demo.url("/file/110002"));
    EXPECT_GT(expected.size(), 1000000u);
    EXPECT_EQ(readFile(folder / "VLC 媒体播放器.zip"), expected);
    ASSERT_FALSE(sound.played.empty());
}

TEST_F(NetdiskWindowTest, ADirectLinkThatExpiresIsFoundAgainOnTheSharePage)
{
    // Every direct link the demo hands out is refused once 4 MB of the file's 24 MiB went through it.
    DemoService demo(KAVO_PUBLISHED_DIR, 0, 4000000);
    DemoService lasting;
    ASSERT_TRUE(demo.started() && lasting.started());
    fetch = [](const std::string &url) { return download::FetchUrl(url); };
    const std::filesystem::path folder = home.path() / "downloads";
    std::filesystem::create_directories(folder);
    QPointer<NetdiskWindow> window = open(demo.url("/share/link?shareid=110002&uk=3500002"));
    setFolder(window, folder);
    QSignalSpy ended(window.data(), &NetdiskWindow::downloadEnded);
    QTest::mouseClick(child<QPushButton>(window, "按钮_下载"), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_TRUE(ended.at(0).at(0).toBool()) << common::utf8FromGbk(queue->items().front().reason);
    const std::string expected = download::FetchUrl(lasting.url("/file/110002"));
    EXPECT_GT(expected.size(), 1000000u);
    EXPECT_EQ(readFile(folder / "VLC 媒体播放器.zip"), expected);
    window->close();
    QTRY_VERIFY(window.isNull());
}
