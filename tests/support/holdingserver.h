#pragma once

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>
#include <vector>

// A loopback HTTP peer that holds its answers back. Each connection gets `head` once its request has arrived,
// then silence, until finish() sends `tail` and closes it. With an empty head it accepts and never answers.
// Works on the event loop of the thread that creates it.
class HoldingServer
{
public:
    HoldingServer(std::string head, std::string tail)
        : m_head(std::move(head))
        , m_tail(std::move(tail))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { acceptPending(); });
    }

    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + path;
    }
    // Connections whose request has arrived.
    int requests() const { return m_requests; }

    // Sends the tail to every connection held and closes it; later connections get head and tail at once.
    void finish()
    {
        m_finished = true;
        for (const QPointer<QTcpSocket> &socket : m_held) {
            if (socket)
                close(*socket);
        }
        m_held.clear();
    }

private:
    void acceptPending()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                const bool complete = request->contains("\r\n\r\n");
                request->append(socket->readAll());
                if (complete || !request->contains("\r\n\r\n"))
                    return;
                ++m_requests;
                socket->write(m_head.data(), static_cast<qint64>(m_head.size()));
                if (m_finished)
                    close(*socket);
                else
                    m_held.emplace_back(socket);
            });
        }
    }

    void close(QTcpSocket &socket)
    {
        socket.write(m_tail.data(), static_cast<qint64>(m_tail.size()));
        socket.disconnectFromHost();
    }

    QTcpServer m_server;
    std::string m_head;
    std::string m_tail;
    std::vector<QPointer<QTcpSocket>> m_held;
    int m_requests = 0;
    bool m_finished = false;
};
