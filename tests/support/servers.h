#pragma once

#include "support/childprocess.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <QTcpServer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
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

// Whether process `pid` holds a TCP socket that listens on `port` (IPv4), as its /proc entries tell.
inline bool listensOn(qint64 pid, quint16 port)
{
    const std::filesystem::path process = "/proc/" + std::to_string(pid);
    std::set<std::string> sockets;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(process / "fd", error))
        sockets.insert(std::filesystem::read_symlink(entry.path(), error).string());
    std::ifstream table(process / "net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeouts, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeouts >> inode;
        const bool ourPort = local.size() > 5 && std::stoul(local.substr(local.size() - 4), nullptr, 16) == port;
        if (ourPort && state == "0A" && sockets.count("socket:[" + inode + "]"))
            return true;
    }
    return false;
}

// nginx from Debian in the foreground, serving `root` with ranges; `extra` goes into its location block. nginx
// cannot listen on port 0, so the server takes a port that was free a moment ago and checks that nginx itself
// holds it; when someone else took it meanwhile, nginx ends and the next free port is tried. Throws, with the
// end of what nginx said, when nginx never listens.
class NginxServer
{
public:
    NginxServer(const std::filesystem::path &prefix, const std::filesystem::path &root, const std::string &extra = {})
    {
        std::filesystem::create_directories(prefix / "logs");
        std::string said;
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = freeLoopbackPort();
            std::ofstream(prefix / "nginx.conf")
                << "daemon off; master_process off; worker_processes 1; error_log "
                << (prefix / "logs/error.log").string() << "; pid " << (prefix / "nginx.pid").string() << ";\n"
                << "events { worker_connections 256; }\n"
                << "http { access_log off; client_body_temp_path " << prefix.string() << "/body; proxy_temp_path "
                << prefix.string() << "/proxy; fastcgi_temp_path " << prefix.string() << "/fastcgi; uwsgi_temp_path "
                << prefix.string() << "/uwsgi; scgi_temp_path " << prefix.string() << "/scgi;\n"
                << "  server { listen 127.0.0.1:" << m_port << "; root " << root.string() << "; location / { " << extra
                << " } } }\n";
            const bool started = m_process.start("/usr/sbin/nginx",
                {"-p", prefix.string(), "-c", (prefix / "nginx.conf").string()}, ChildProcess::Errors::Merge);
            if (started && waitUntilListening())
                return;
            said += m_process.readAvailable();
            m_process.stop();
        }
        const std::string log = said + readFile(prefix / "logs/error.log");
        throw std::runtime_error("nginx never listened: " + log.substr(log.size() > 2000 ? log.size() - 2000 : 0));
    }
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    // True once nginx holds its port; false when it ended first (the port was taken) or took a minute.
    bool waitUntilListening()
    {
        const pid_t pid = m_process.pid();
        return waitUntil([&] { return !m_process.running() || listensOn(pid, m_port); }, std::chrono::seconds(60))
            && m_process.running();
    }
    quint16 m_port = 0;
    ChildProcess m_process;
};

// tests/support/scripted_server.py serving `file`; with `log`, each request adds a line "ROUTE FROM IF-RANGE".
class ScriptedServer
{
public:
    explicit ScriptedServer(const std::filesystem::path &file, const std::filesystem::path &log = {})
    {
        std::vector<std::string> arguments{KAVO_TEST_SUPPORT_DIR "/scripted_server.py", file.string()};
        if (!log.empty())
            arguments.push_back(log.string());
        if (m_process.start("python3", arguments))
            m_port = static_cast<quint16>(std::atoi(m_process.readLine().c_str()));
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    ChildProcess m_process;
    quint16 m_port = 0;
};

// microsocks on a free loopback port. Its connections to servers leave from 127.0.0.2, so a server's log tells
// a proxied request (from 127.0.0.2) from a direct one (from 127.0.0.1).
class SocksProxy
{
public:
    explicit SocksProxy(const std::filesystem::path &log)
        : m_port(freeLoopbackPort())
    {
        m_process.startLogging(
            "microsocks", {"-i", "127.0.0.1", "-p", std::to_string(m_port), "-b", "127.0.0.2"}, log.string());
        (void)waitUntil([this] { return listensOn(m_process.pid(), m_port); });
    }
    std::string url(const std::string &scheme) const { return scheme + "://127.0.0.1:" + std::to_string(m_port); }

private:
    quint16 m_port;
    ChildProcess m_process;
};
