#pragma once

#include <QProcess>
#include <filesystem>
#include <string>

// tools/demo_service.py on a free loopback port, serving a published catalog tree (by default the one the build
// published), unthrottled unless a rate (bytes per second per connection) is given, with direct links that expire
// after `expireAfter` bytes when that is not 0; stopped with the object.
class DemoService
{
public:
    explicit DemoService(const std::filesystem::path &tree = KAVO_PUBLISHED_DIR, int rate = 0, int expireAfter = 0)
    {
        m_process.start(QStringLiteral("python3"),
            {QStringLiteral(KAVO_SOURCE_DIR "/tools/demo_service.py"), QStringLiteral("--port"), QStringLiteral("0"),
                QStringLiteral("--tree"), QString::fromStdString(tree.string()), QStringLiteral("--rate"),
                QString::number(rate), QStringLiteral("--expire-after"), QString::number(expireAfter)});
        if (m_process.waitForReadyRead(10000))
            m_port = m_process.readLine().trimmed().toStdString();
    }
    ~DemoService()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool started() const { return !m_port.empty(); }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + m_port + path; }

private:
    QProcess m_process;
    std::string m_port;
};
