#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace platform {

// One running instance per user: the first process listens on a local socket; a later one connects, asks it
// to restore and raise its window, and steps aside. UI thread only.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `name` keeps separate programs (and tests) apart; defaultName() is the program's own.
    explicit SingleInstance(QString name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // KAVO_INSTANCE_NAME when set, else a name built from "Verrin" and the user id.
    static QString defaultName();

    // True when this process is now the running instance. False when another instance runs; it has then been
    // told to restore itself.
    bool claim();
    // Stops being the running instance (at shutdown).
    void release();

signals:
    void activationRequested();

private:
    bool tellRunningInstance();
    void acceptConnections();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace platform
