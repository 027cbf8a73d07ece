#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into the signal `received` on the UI thread, so that logout, `kill` and
// Ctrl+C end the program the way its close button does. One per process; UI thread only. The handlers stay
// until the object is destroyed, which restores the previous ones.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace platform
