#include "platform/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <unistd.h>

namespace platform {

namespace {

constexpr int ConnectTimeoutMs = 1000;
const QByteArray RestoreCommand = QByteArrayLiteral("restore\n");

} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
{
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::defaultName()
{
    const QString overridden = qEnvironmentVariable("KAVO_INSTANCE_NAME");
    if (!overridden.isEmpty())
        return overridden;
    return QStringLiteral("Verrin-%1").arg(::getuid());
}

bool SingleInstance::claim()
{
    // The lock makes "is anyone listening? then listen" one step, so two processes started together cannot
    // both become the running instance.
    QLockFile lock(QDir::temp().filePath(m_name + QStringLiteral(".lock")));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(5000))
        return !tellRunningInstance();
    if (tellRunningInstance())
        return false;
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    // Without a socket this process still runs as the only instance; it just cannot be raised by the next one.
    m_server->listen(m_name);
    return true;
}

void SingleInstance::release()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

bool SingleInstance::tellRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(RestoreCommand);
    socket.waitForBytesWritten(ConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray received = socket->readAll();
            if (received.contains('\n'))
                emit activationRequested();
        });
    }
}

} // namespace platform
