#pragma once

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

// Loopback peers for the network tests. Each starts on its own free port and stops with the object.

inline std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// nginx from Debian in the foreground, serving `root` with ranges; `extra` goes into its location block.
class NginxServer
{
public:
    NginxServer(const std::filesystem::path &prefix, const std::filesystem::path &root, const std::string &extra = {})
        : m_port(freeLoopbackPort())
    {
        std::filesystem::create_directories(prefix / "logs");
        std::ofstream(prefix / "nginx.conf")
            << "daemon off; master_process off; worker_processes 1; error_log " << (prefix / "logs/error.log").string()
            << "; pid " << (prefix / "nginx.pid").string() << ";\n"
            << "events { worker_connections 256; }\n"
            << "http { access_log off; client_body_temp_path " << prefix.string() << "/body; proxy_temp_path "
            << prefix.string() << "/proxy; fastcgi_temp_path " << prefix.string() << "/fastcgi; uwsgi_temp_path "
            << prefix.string() << "/uwsgi; scgi_temp_path " << prefix.string() << "/scgi;\n"
            << "  server { listen 127.0.0.1:" << m_port << "; root " << root.string() << "; location / { " << extra
            << " } } }\n";
        m_process.start(QStringLiteral("/usr/sbin/nginx"),
            {QStringLiteral("-p"), QString::fromStdString(prefix.string()), QStringLiteral("-c"),
                QString::fromStdString((prefix / "nginx.conf").string())});
        m_process.waitForStarted();
        waitUntilListening();
    }
    ~NginxServer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    void waitUntilListening()
    {
        for (int i = 0; i < 200; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(50))
                return;
            QThread::msleep(10);
        }
    }
    quint16 m_port;
    QProcess m_process;
};

// tests/support/scripted_server.py serving `file`; with `log`, each request adds a line "ROUTE FROM IF-RANGE".
class ScriptedServer
{
public:
    explicit ScriptedServer(const std::filesystem::path &file, const std::filesystem::path &log = {})
    {
        QStringList arguments{
            QStringLiteral(KAVO_TEST_SUPPORT_DIR "/scripted_server.py"), QString::fromStdString(file.string())};
        if (!log.empty())
            arguments << QString::fromStdString(log.string());
        m_process.start(QStringLiteral("python3"), arguments);
        m_process.waitForReadyRead(10000);
        m_port = m_process.readLine().trimmed().toUShort();
    }
    ~ScriptedServer()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};
