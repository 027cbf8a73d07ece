#pragma once

#include <string>

namespace appearance {

// Every notice of the program goes through this: the message window in the program, a recorder in tests.
// UI thread only.
class Notifier
{
public:
    virtual ~Notifier() = default;
    // Shows a GBK text. Modal: returns when the user has closed the window; else returns at once.
    virtual void showMessage(const std::string &gbkText, bool modal) = 0;
};

} // namespace appearance
