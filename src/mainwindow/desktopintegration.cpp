#include "mainwindow/desktopintegration.h"

#include "common/qtext.h"

#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QMoveEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

namespace mainwindow {

DesktopIntegration::DesktopIntegration(QWidget &window, Options options)
    : QObject(&window)
    , m_window(window)
    , m_options(std::move(options))
{
    m_window.installEventFilter(this);
}

void DesktopIntegration::showTrayIcon()
{
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/kavo/tray.png")), this);
    m_tray->setContextMenu(m_options.trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A minimised window would stay minimised on show(): the click brings it back as a restore does.
        if (reason == QSystemTrayIcon::Trigger)
            restore();
    });
    putUpTrayIcon();
}

void DesktopIntegration::removeTrayIcon()
{
    if (m_tray)
        m_tray->hide();
}

void DesktopIntegration::restore()
{
    m_inTray = false;
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    centre();
    m_window.show();
    centre();
    m_window.raise();
    m_window.activateWindow();
    // The window may already have stood centred: no move took the tray icon down.
    placementChanged();
}

void DesktopIntegration::hideToTray()
{
    if (!m_options.trayAvailable()) {
        m_window.showMinimized();
        return;
    }
    // Only hidden, never iconified: an iconified window leaves state reports behind that reach the program
    // after the next restore and would hide the window again.
    m_inTray = true;
    m_window.hide();
    placementChanged();
}

void DesktopIntegration::toggle()
{
    if (m_inTray || m_window.isMinimized() || !m_window.isVisible())
        restore();
    else
        hideToTray();
}

bool DesktopIntegration::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window) {
        if (event->type() == QEvent::WindowStateChange)
            onStateChanged();
        // The first showing reports the position the window already had; only a real change counts.
        const auto *move = event->type() == QEvent::Move ? static_cast<QMoveEvent *>(event) : nullptr;
        if (move && move->pos() != move->oldPos())
            placementChanged();
    }
    return QObject::eventFilter(watched, event);
}

void DesktopIntegration::onStateChanged()
{
    // The window was minimised by something else than the program (the window manager, a task bar): it goes to
    // the tray as well. What the window system reports is read only here; whether to hide it is decided when the
    // minimising is done, by the program's own state: a restore in between keeps the window shown.
    if (m_window.isMinimized() && !m_inTray && m_window.isVisible() && m_tray && m_options.trayAvailable()) {
        m_inTray = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_inTray)
                    m_window.hide();
            },
            Qt::QueuedConnection);
    }
    placementChanged();
}

void DesktopIntegration::placementChanged()
{
    if (!m_tray)
        return;
    m_tray->hide();
    if (m_inTray || m_window.isMinimized())
        putUpTrayIcon();
}

void DesktopIntegration::putUpTrayIcon()
{
    m_tray->setToolTip(common::toQString(m_options.toolTip()));
    m_tray->show();
}

void DesktopIntegration::centre()
{
    if (const QScreen *screen = m_window.screen())
        m_window.move(screen->availableGeometry().center() - m_window.rect().center());
}

} // namespace mainwindow
