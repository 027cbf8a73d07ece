#include "platform/hotkeys.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <array>
#include <map>
#include <xcb/xcb.h>

namespace platform {

namespace {

// Lock keys change the modifier state of a key press; grab every combination so the key works with them on.
std::array<unsigned, 4> lockMasks(unsigned numLockMask)
{
    return {0, LockMask, numLockMask, LockMask | numLockMask};
}

// The modifier bit that Num Lock sets on this display; Mod2 on nearly every keyboard map.
unsigned numLockMaskOf(Display *display)
{
    const unsigned mask = XkbKeysymToModifiers(display, XK_Num_Lock);
    return mask != 0 ? mask : Mod2Mask;
}

KeySym keySymFor(int virtualKey)
{
    switch (virtualKey) {
    case 0x74:
        return XK_F5;
    case 0x24:
        return XK_Home;
    default:
        return NoSymbol;
    }
}

// A grab that another client holds fails with BadAccess; Xlib's default handler would end the process.
int grabErrors = 0;
int countGrabError(Display *, XErrorEvent *)
{
    ++grabErrors;
    return 0;
}

class NoHotKeys final : public HotKeys
{
public:
    int registerKey(int) override { return 0; }
    void unregisterAll() override { }
};

class X11HotKeys final : public HotKeys, public QAbstractNativeEventFilter
{
public:
    explicit X11HotKeys(Display *display)
        : m_display(display)
        , m_numLockMask(numLockMaskOf(display))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~X11HotKeys() override
    {
        unregisterAll();
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    int registerKey(int virtualKey) override
    {
        const KeySym sym = keySymFor(virtualKey);
        const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(m_display, sym);
        if (code == 0)
            return 0;
        const Window root = DefaultRootWindow(m_display);
        XSync(m_display, False);
        grabErrors = 0;
        const auto previous = XSetErrorHandler(countGrabError);
        for (const unsigned mask : lockMasks(m_numLockMask))
            XGrabKey(m_display, code, mask, root, False, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        XSetErrorHandler(previous);
        if (grabErrors > 0)
            return 0;
        const int identifier = static_cast<int>(m_keys.size()) + 1;
        m_keys[code] = identifier;
        return identifier;
    }

    void unregisterAll() override
    {
        const Window root = DefaultRootWindow(m_display);
        for (const auto &[code, identifier] : m_keys) {
            for (const unsigned mask : lockMasks(m_numLockMask))
                XUngrabKey(m_display, code, mask, root);
        }
        m_keys.clear();
        XSync(m_display, False);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
            return false;
        const auto *press = static_cast<xcb_key_press_event_t *>(message);
        // The program's own windows see every key press too, with whatever modifiers were held.
        if (!isUnmodifiedKeyState(press->state, m_numLockMask))
            return false;
        const auto found = m_keys.find(press->detail);
        if (found == m_keys.end())
            return false;
        emit pressed(found->second);
        return true;
    }

private:
    Display *m_display;
    unsigned m_numLockMask;
    std::map<unsigned, int> m_keys;
};

} // namespace

bool isUnmodifiedKeyState(unsigned state, unsigned numLockMask)
{
    constexpr unsigned ModifierBits
        = ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;
    return (state & ModifierBits & ~(LockMask | numLockMask)) == 0;
}

std::unique_ptr<HotKeys> createHotKeys()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // Under the offscreen platform the interface may exist without a connection.
    if (x11 && x11->display())
        return std::make_unique<X11HotKeys>(x11->display());
    return std::make_unique<NoHotKeys>();
}

} // namespace platform
