#pragma once

#include <QObject>
#include <memory>

namespace platform {

// Global hot keys without modifiers, named by their Windows virtual-key codes (0x74 F5, 0x24 Home).
// UI thread only.
class HotKeys : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    // Registers a key; returns its identifier, or 0 when the key cannot be grabbed (another program holds it,
    // or the session has no X11). The program starts either way.
    virtual int registerKey(int virtualKey) = 0;
    virtual void unregisterAll() = 0;

signals:
    void pressed(int identifier);
};

// True when an X11 key event's `state` holds no modifier: Caps Lock and Num Lock (`numLockMask`) do not count,
// nor do mouse buttons. Shift+Home typed into a box of the program is not the Home hot key. Thread-safe.
bool isUnmodifiedKeyState(unsigned state, unsigned numLockMask);

// X11 key grabs on the root window where the session has an X11 connection; elsewhere a set that registers
// nothing.
std::unique_ptr<HotKeys> createHotKeys();

} // namespace platform
