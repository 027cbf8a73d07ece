#include "desktop/xclient.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <algorithm>
#include <poll.h>

// Xlib comes last: its macros (None, Bool) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

void collect(Display *display, Window window, const char *instance, std::vector<XClient::WindowId> &found)
{
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint)) {
        if (hint.res_name && std::string_view(hint.res_name) == instance)
            found.push_back(window);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i)
        collect(display, children[i], instance, found);
    if (children)
        XFree(children);
}

// A window may vanish between the look-up and the question: that is an answer, not an error.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

XClient::XClient()
    : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    XSetErrorHandler(ignoreErrors);
    // Structure events of the root carry the answers to pings (Qt sends them with that mask).
    XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask | SubstructureNotifyMask);
    XFlush(m_display);
}

XClient::~XClient()
{
    if (m_display)
        XCloseDisplay(m_display);
}

std::vector<XClient::WindowId> XClient::windowsOf(const char *instance) const
{
    std::vector<WindowId> found;
    collect(m_display, DefaultRootWindow(m_display), instance, found);
    return found;
}

QString XClient::title(WindowId window) const
{
    const Atom name = XInternAtom(m_display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    QString text;
    if (XGetWindowProperty(m_display, window, name, 0, 1024, False, utf8, &type, &format, &items, &after, &data)
            == Success
        && data) {
        text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(items));
        XFree(data);
    }
    return text;
}

bool XClient::viewable(WindowId window) const
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(m_display, window, &attributes) && attributes.map_state == IsViewable;
}

bool XClient::embedded(WindowId window) const
{
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
        return false;
    if (children)
        XFree(children);
    return parent != root;
}

bool XClient::selectionOwned(const char *name) const
{
    return XGetSelectionOwner(m_display, XInternAtom(m_display, name, False)) != 0;
}

bool XClient::overrideRedirect(WindowId window) const
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(m_display, window, &attributes) && attributes.override_redirect;
}

QRect XClient::geometry(WindowId window) const
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(m_display, window, &attributes))
        return {};
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

void XClient::drain()
{
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ClientMessage
            && static_cast<Atom>(event.xclient.data.l[0]) == XInternAtom(m_display, "_NET_WM_PING", False))
            m_pongs.push_back(event.xclient.data.l[1]);
    }
}

bool XClient::waitFor(const std::function<bool()> &condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    for (;;) {
        drain();
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        pollfd connection{ConnectionNumber(m_display), POLLIN, 0};
        ::poll(&connection, 1, static_cast<int>(std::min<qint64>(50, deadline.remainingTime())));
    }
}

bool XClient::pingTwice(WindowId window, int milliseconds)
{
    static long serial = 1000;
    const Atom protocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(m_display, "_NET_WM_PING", False);
    long last = 0;
    for (int i = 0; i < 2; ++i) {
        last = ++serial;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping);
        event.xclient.data.l[1] = last;
        event.xclient.data.l[2] = static_cast<long>(window);
        XSendEvent(m_display, window, False, NoEventMask, &event);
        XFlush(m_display);
        if (!waitFor([this, last] { return std::find(m_pongs.begin(), m_pongs.end(), last) != m_pongs.end(); },
                milliseconds))
            return false;
    }
    return true;
}

namespace {

bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

bool XClient::click(QPoint at, WindowId receiver, int button)
{
    const QString which = QString::number(button);
    const bool arrived = xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())})
        && (receiver == 0 || pingTwice(receiver, 10000));
    if (!arrived)
        return false;
    // The press may end the receiver (a tray icon taken down): the release goes out whatever became of it.
    const bool pressed = xdotool({QStringLiteral("mousedown"), which});
    return xdotool({QStringLiteral("mouseup"), which}) && pressed;
}

bool XClient::key(const char *name)
{
    return xdotool({QStringLiteral("key"), QString::fromLatin1(name)});
}
