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

// A logging xdg-open first on PATH: each call appends its argument count and its arguments, one a line.
class LoggingXdgOpen
{
public:
    LoggingXdgOpen()
        : m_savedPath(qgetenv("PATH"))
    {
        const auto script = m_dir.path() / "xdg-open";
        writeFile(script,
            "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> '" + log().string()
                + "'\n");
        ::chmod(script.c_str(), 0755);
        qputenv("PATH", QByteArray::fromStdString(m_dir.path().string()) + ':' + m_savedPath);
    }
    ~LoggingXdgOpen() { qputenv("PATH", m_savedPath); }

    std::filesystem::path log() const { return m_dir.path() / "calls.log"; }
    // The arguments of each call so far, in order (calls that have not finished writing are left out).
    std::vector<std::vector<std::string>> calls() const
    {
        std::vector<std::vector<std::string>> result;
        std::istringstream in(readFile(log()));
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

private:
    TempDir m_dir;
    QByteArray m_savedPath;
};

} // namespace

TEST(HandOff, XdgOpenReceivesTheExactLinkText)
{
    LoggingXdgOpen xdgOpen;
    FakeServices fakes;
    writeFile(fakes.home.path() / "自动更新" / "软件下载.txt",
        gbk("(软件名称：Alpha-下载地址：http://a/Mixed1-)\r\n(软件名称：中文-下载地址：http://例子.测试/下载/文件 "
            "名.zip?q=值-)\r\n"));
    const auto desktop = platform::createDesktop();
    mainwindow::Services services = fakes.services();
    mainwindow::MainWindow window({services.settings, services.paths, services.sound, *desktop, services.notifier,
        services.download, services.picker, services.picturePicker, services.fetch, services.mailSender});
    window.show();
    window.tabRoutine(1);
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
