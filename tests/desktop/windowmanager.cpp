#include "desktop/windowmanager.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// A running EWMH window manager names its check window on the root window.
bool managerRuns(Display *display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    const int status = XGetWindowProperty(
        display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format, &items, &after, &data);
    if (data)
        XFree(data);
    return status == Success && items == 1;
}

} // namespace

WindowManager::~WindowManager()
{
    m_process.terminate();
    m_process.waitForFinished(5000);
}

bool WindowManager::start()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return false;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    while (!managerRuns(x11->display())) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        QThread::msleep(20); // polling the root window for a condition, not waiting a fixed time
    }
    return true;
}
