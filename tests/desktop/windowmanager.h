#pragma once

#include <QProcess>

// Debian's openbox on the test display, for as long as the object lives.
class WindowManager
{
public:
    ~WindowManager();
    // Starts openbox and waits (bounded) until it has claimed the screen.
    bool start();

private:
    QProcess m_process;
};
