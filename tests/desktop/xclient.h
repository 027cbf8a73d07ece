#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <vector>

// What the test sees of other programs' windows, through a connection of its own to the X server, and the real
// input it gives them through xdotool (XTEST): presses and releases as a user's.
class XClient
{
public:
    using WindowId = unsigned long;

    XClient();
    ~XClient();
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    bool connected() const { return m_display != nullptr; }

    // Every window in the tree below the root whose WM_CLASS instance is `instance`, shown or not, outermost first.
    std::vector<WindowId> windowsOf(const char *instance) const;
    // The title (_NET_WM_NAME) of a window; empty when it has none.
    QString title(WindowId window) const;
    bool viewable(WindowId window) const;
    // Whether some client owns the selection `name` (a tray host owns "_NET_SYSTEM_TRAY_S0").
    bool selectionOwned(const char *name) const;
    bool overrideRedirect(WindowId window) const;
    // Whether the window lies inside another program's window (docked) rather than on the root.
    bool embedded(WindowId window) const;
    // The window's rectangle on the screen; empty when the window is gone.
    QRect geometry(WindowId window) const;

    // Waits until `condition` holds or `milliseconds` have passed; true when it holds. Woken by the X server's
    // structure events and re-checked at least every 50 ms, since a docked window's events go to its dock.
    bool waitFor(const std::function<bool()> &condition, int milliseconds);
    // Sends `window` two pings and waits for both answers: once they came, the program's event loop has handled
    // everything the X server had sent it before, and whatever that posted.
    bool pingTwice(WindowId window, int milliseconds);

    // Real input, as a user gives it: the pointer moves to `at`, then the button is pressed, held and let go.
    // `receiver` (when not 0) has handled the pointer's arrival before the press comes, as from a hand.
    bool click(QPoint at, WindowId receiver, int button = 1);
    static bool key(const char *name);

private:
    void drain();

    struct _XDisplay *m_display = nullptr;
    std::vector<long> m_pongs; // the identifiers of the pings answered
};
