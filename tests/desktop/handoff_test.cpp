#include "common/gbk.h"
#include "download/links.h"
#include "mainwindow/mainwindow.h"
#include "platform/desktop.h"
#include "support/tempdir.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <sys/stat.h>

using common::gbk;

namespace {

// A script named xdg-open first on PATH, for as long as the object lives. `body` appends to the file log().
class XdgOpenOnPath
{
public:
    explicit XdgOpenOnPath(const std::string &body)
        : m_savedPath(qgetenv("PATH"))
    {
        const auto script = m_dir.path() / "xdg-open";
        writeFile(script, "#!/bin/sh\nlog='" + log().string() + "'\n" + body);
        ::chmod(script.c_str(), 0755);
        qputenv("PATH", QByteArray::fromStdString(m_dir.path().string()) + ':' + m_savedPath);
    }
    ~XdgOpenOnPath() { qputenv("PATH", m_savedPath); }
    XdgOpenOnPath(const XdgOpenOnPath &) = delete;
    XdgOpenOnPath &operator=(const XdgOpenOnPath &) = delete;

    std::filesystem::path log() const { return m_dir.path() / "calls.log"; }

private:
    TempDir m_dir;
    QByteArray m_savedPath;
};

// A logging xdg-open first on PATH: each call appends its argument count and its arguments, one a line.
class LoggingXdgOpen : public XdgOpenOnPath
{
public:
    LoggingXdgOpen()
        : XdgOpenOnPath("{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> \"$log\"\n")
    {
    }

    // The arguments of each call so far, in order (calls that have not finished writing are left out).
    std::vector<std::vector<std::string>> calls() const
    {
        std::vector<std::vector<std::string>> result;
        const std::string text = readFile(log());
        std::istringstream in(text.substr(0, text.rfind('\n') + 1)); // whole lines only
        std::string count;
        while (std::getline(in, count)) {
            std::vector<std::string> arguments(static_cast<std::size_t>(std::stoi(count)));
            for (std::string &argument : arguments) {
                if (!std::getline(in, argument))
                    return result;
            }
            result.push_back(arguments);
        }
        return result;
    }
};

// A main window over `fakes` that hands addresses to `desktop`, shown, with its first list loading.
std::unique_ptr<mainwindow::MainWindow> windowOnTheFirstList(FakeServices &fakes, platform::Desktop &desktop)
{
    mainwindow::Services services = fakes.services();
    auto window = std::make_unique<mainwindow::MainWindow>(
        mainwindow::Services{services.settings, services.paths, services.sound, desktop, services.notifier,
            services.picker, services.picturePicker, services.fetch, services.mailSender, services.networkPool});
    window->show();
    window->tabRoutine(1);
    return window;
}

} // namespace

TEST(HandOff, XdgOpenReceivesTheExactLinkText)
{
    LoggingXdgOpen xdgOpen;
    FakeServices fakes;
    writeFile(fakes.home.path() / "自动更新" / "软件下载.txt",
        gbk("(软件名称：Alpha-下载地址：http://a/Mixed1-)\r\n(软件名称：中文-下载地址：http://例子.测试/下载/文件 "
            "名.zip?q=值-)\r\n"));
    const auto desktop = platform::createDesktop();
    const auto shown = windowOnTheFirstList(fakes, *desktop);
    mainwindow::MainWindow &window = *shown;
    QTreeView *list = window.form().lists[0];
    QTRY_COMPARE(list->model()->rowCount(), 2);
    const auto commandOnRow = [&](int row, const char *command) {
        list->setCurrentIndex(list->model()->index(row, 0));
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->currentIndex()).center());
        window.form().itemMenu->findChild<QAction *>(QString::fromUtf8(command))->trigger();
    };
    for (const char *command : {"迅雷下载", "快车下载", "旋风下载", "本地下载", "网页下载"})
        commandOnRow(0, command);
    commandOnRow(1, "本地下载");

    const std::string address = " http://a/Mixed1";
    const std::vector<std::vector<std::string>> expected{{download::thunderLink(address)},
        {download::flashgetLink(address)}, {download::qqdlLink(address)}, {"http://a/Mixed1"}, {"http://a/Mixed1"},
        {"http://例子.测试/下载/文件 名.zip?q=值"}};
    // xdg-open runs detached: wait until every call has been logged.
    QTRY_COMPARE_WITH_TIMEOUT(xdgOpen.calls().size(), expected.size(), 10000);
    // The order of detached processes is not fixed; the set of calls is.
    auto calls = xdgOpen.calls();
    auto sortedExpected = expected;
    std::sort(calls.begin(), calls.end());
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(calls, sortedExpected);
    EXPECT_EQ(
        download::flashgetLink(address).rfind("Flashget://W0ZMQVNIR0VUXSBodHRwOi8vYS9NaXhlZDFbRkxBU0hHRVRd", 0), 0u);
}

namespace {

// A logging xdg-open that writes each call as one line: its arguments in hexadecimal, separated by blanks, so
// that line breaks and any other bytes inside an argument arrive as they were.
class HexLoggingXdgOpen : public XdgOpenOnPath
{
public:
    HexLoggingXdgOpen()
        : XdgOpenOnPath("line=\nfor a in \"$@\"; do line=\"$line $(printf '%s' \"$a\" | od -An -v -tx1 | tr -d ' "
                        "\\n')\"; done\nprintf '%s\\n' \"$line\" >> \"$log\"\n")
    {
    }

    // The calls logged in full: a long line reaches the log in several writes, and the last one may still be
    // on its way.
    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        const std::string text = readFile(log());
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    // The line a call with the one argument `utf8` writes.
    static std::string line(std::string_view utf8)
    {
        static constexpr char Digits[] = "0123456789abcdef";
        std::string hex = " ";
        for (const char c : utf8) {
            hex += Digits[static_cast<unsigned char>(c) >> 4];
            hex += Digits[static_cast<unsigned char>(c) & 15];
        }
        return hex;
    }
};

} // namespace

TEST(HandOff, HostileAddressesReachXdgOpenAsOneArgumentLetterForLetter)
{
    HexLoggingXdgOpen xdgOpen;
    const auto desktop = platform::createDesktop();
    const std::vector<std::string> addresses{
        "http://a/\"quoted\" 'single' `id` $(touch x) ; | > <",
        "http://a/line\nbreak\rand\ttab",
        "http://a/?x=1&y=%41%zz%&amp;z=%00",
        gbk("http://例子.测试/下载/文件 名.zip?q=值"),
        "http://a/" + std::string(100000, 'x'),
    };
    std::vector<std::string> expected;
    for (const std::string &address : addresses) {
        SCOPED_TRACE(address.substr(0, 40));
        for (const std::string &text : {address, download::thunderLink(" " + address),
                 download::flashgetLink(" " + address), download::qqdlLink(" " + address)}) {
            // One argument may hold 128 KiB: beyond that the system refuses to start xdg-open at all.
            const bool fits = text.size() < 128 * 1024;
            EXPECT_EQ(desktop->openAddress(text), fits);
            if (fits)
                expected.push_back(HexLoggingXdgOpen::line(common::utf8FromGbk(text)));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(xdgOpen.calls().size(), expected.size(), 20000);
    auto calls = xdgOpen.calls();
    std::sort(calls.begin(), calls.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(calls, expected);
}

TEST(HandOff, ALinkTheSystemRefusesToHandOverIsToldInTheMessageWindow)
{
    HexLoggingXdgOpen xdgOpen;
    FakeServices fakes;
    const std::string address = "http://a/" + std::string(100000, 'x');
    writeFile(fakes.home.path() / "自动更新" / "软件下载.txt", gbk("(软件名称：Long-下载地址：") + address + "-)\r\n");
    const auto desktop = platform::createDesktop();
    const auto shown = windowOnTheFirstList(fakes, *desktop);
    mainwindow::MainWindow &window = *shown;
    QTreeView *list = window.form().lists[0];
    QTRY_COMPARE(list->model()->rowCount(), 1);
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->currentIndex()).center());
    for (const char *command : {"本地下载", "迅雷下载"})
        window.form().itemMenu->findChild<QAction *>(QString::fromUtf8(command))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(xdgOpen.calls().size(), 1u, 10000);
    EXPECT_EQ(xdgOpen.calls().front(), HexLoggingXdgOpen::line(address));
    ASSERT_EQ(fakes.notifier.notices.size(), 1u);
    EXPECT_EQ(fakes.notifier.notices.front().text.rfind(gbk("无法交给系统打开："), 0), 0u);
}
