#pragma once

#include "support/process.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

// Starts the program itself with its files in `home`, its single-instance name `instance` and its manifest
// page at `manifestUrl`; its output goes to the test's.
inline void startKavo(
    QProcess &kavo, const std::filesystem::path &home, const QString &instance, const QString &manifestUrl)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KAVO_HOME"), QString::fromStdString(home.string()));
    environment.insert(QStringLiteral("KAVO_INSTANCE_NAME"), instance);
    environment.insert(QStringLiteral("KAVO_MANIFEST_URL"), manifestUrl);
    kavo.setProcessEnvironment(environment);
    kavo.setProcessChannelMode(QProcess::ForwardedChannels);
    kavo.start(QString::fromStdString(binaryDir() + "/kavo"));
}
