#include "kavoprocess.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

// The program itself, on the test display, ended by a signal as logout, kill or Ctrl+C would.
TEST(TerminationSignals, EndTheProgramAsItsCloseButtonDoes)
{
    const struct
    {
        const char *name;
        int number;
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        TempDir home;
        writeFile(home.path() / "配置", "[记录]\n名称=kept\n");
        const QString instance = QStringLiteral("kavo-signal-test-%1-%2").arg(::getpid()).arg(row.number);
        QProcess kavo;
        startKavo(kavo, home.path(), instance, QStringLiteral("http://127.0.0.1:9/"));
        ASSERT_TRUE(kavo.waitForStarted(5000));
        // The running instance listens on its socket once start-up has claimed it.
        const QString socket = QDir(QDir::tempPath()).filePath(instance);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
        ASSERT_TRUE(QFileInfo::exists(socket));

        ::kill(static_cast<pid_t>(kavo.processId()), row.number);
        ASSERT_TRUE(kavo.waitForFinished(10000));
        EXPECT_EQ(kavo.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(kavo.exitCode(), 0);
        // The shutdown ran: the instance was released, and the settings are as they were.
        EXPECT_FALSE(QFileInfo::exists(socket));
        EXPECT_EQ(readFile(home.path() / "配置"), "[记录]\n名称=kept\n");
        if (kavo.state() != QProcess::NotRunning) {
            kavo.kill();
            kavo.waitForFinished();
        }
    }
}
