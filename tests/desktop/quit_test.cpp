#include "kavoprocess.h"
#include "support/holdingserver.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

// The program itself, quitting while the announcement fill and the version check wait on a manifest server
// that accepted and never answers. Each of those fetches would wait a minute for its stall limit.
TEST(Quit, EndsAtOnceWhileTheManifestFetchesHang)
{
    HoldingServer manifest("", "");
    TempDir home;
    const QString instance = QStringLiteral("kavo-quit-test-%1").arg(::getpid());
    QProcess kavo;
    startKavo(kavo, home.path(), instance, QString::fromStdString(manifest.url("/manifest.html")));
    ASSERT_TRUE(kavo.waitForStarted(5000));
    // The notice and the version check share the start's one read of the page.
    QTRY_COMPARE_WITH_TIMEOUT(manifest.requests(), 1, 20000);

    ::kill(static_cast<pid_t>(kavo.processId()), SIGTERM);
    EXPECT_TRUE(kavo.waitForFinished(10000));
    EXPECT_EQ(kavo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(kavo.exitCode(), 0);
    if (kavo.state() != QProcess::NotRunning) {
        kavo.kill();
        kavo.waitForFinished();
    }
}
