#include "mainwindow/trayicon.h"

#include <QIcon>
#include <QSystemTrayIcon>

namespace mainwindow {

QSystemTrayIcon *createTrayIcon(QObject *parent)
{
    return new QSystemTrayIcon(QIcon(QStringLiteral(":/kavo/tray.png")), parent);
}

} // namespace mainwindow
