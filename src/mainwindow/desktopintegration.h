#pragma once

#include <QObject>
#include <functional>
#include <string>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace mainwindow {

// The main window's place on the desktop: its tray icon, hiding it to the tray and bringing it back. Whether the
// window is in the tray is the program's own state, set when it hides the window and cleared when it restores it;
// a minimised state the window system reports is read once, when it arrives, because such a report can come
// late. UI thread only.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QMenu *trayMenu = nullptr; // the icon's context menu, owned by the window
        // Whether the desktop shows tray icons now. Without a tray, a window hidden to it could not be brought
        // back, so hiding leaves it minimised instead.
        std::function<bool()> trayAvailable;
        std::function<std::string()> toolTip; // GBK, read each time the icon goes up
    };

    // Watches `window`'s state changes and moves; `window` outlives this object (it is the parent).
    DesktopIntegration(QWidget &window, Options options);

    // Creates the tray icon with its menu and shows it. A click on it restores the window.
    void showTrayIcon();
    // Takes the icon down for good (the window is closing).
    void removeTrayIcon();
    QSystemTrayIcon *trayIcon() const { return m_tray; }

    // Shows the window centred, raised and active, and takes the icon down.
    void restore();
    // Hides the window to the tray, or minimises it where there is no tray.
    void hideToTray();
    // The Home key: brings back a window that is hidden or minimised, else hides it.
    void toggle();
    // The program put the window in the tray and has not brought it back since.
    bool inTray() const { return m_inTray; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onStateChanged();
    void placementChanged();
    void putUpTrayIcon();
    void centre();

    QWidget &m_window;
    Options m_options;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_inTray = false;
};

} // namespace mainwindow
