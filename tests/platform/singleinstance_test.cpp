#include "support/process.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(SingleInstance, SecondProcessRaisesTheFirstAndStepsAside)
{
    int argc = 1;
    char name[] = "platform_tests";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString probe = QString::fromStdString(binaryDir() + "/instance_probe");
    const QString instanceName = QStringLiteral("kavo-test-%1").arg(::getpid());

    QProcess first;
    first.start(probe, {instanceName});
    ASSERT_TRUE(first.waitForReadyRead(10000));
    EXPECT_EQ(first.readLine().trimmed(), "primary");

    QProcess second;
    second.start(probe, {instanceName});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.readAllStandardOutput().trimmed(), "secondary");
    EXPECT_EQ(second.exitCode(), 0);

    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.readAllStandardOutput().trimmed(), "activated");
    EXPECT_EQ(first.exitCode(), 0);

    // The first one is gone: the next start is the running instance again.
    QProcess third;
    third.start(probe, {instanceName});
    ASSERT_TRUE(third.waitForReadyRead(10000));
    EXPECT_EQ(third.readLine().trimmed(), "primary");
    third.kill();
    third.waitForFinished();
}
