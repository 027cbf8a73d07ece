#pragma once

class QObject;
class QSystemTrayIcon;

namespace mainwindow {

// The tray icon with the program's 16 x 16 picture, not yet shown.
QSystemTrayIcon *createTrayIcon(QObject *parent);

} // namespace mainwindow
