#pragma once

#include "support/childprocess.h"

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
        if (m_process.start("python3",
                {KAVO_SOURCE_DIR "/tools/demo_service.py", "--port", "0", "--tree", tree.string(), "--rate",
                    std::to_string(rate), "--expire-after", std::to_string(expireAfter)}))
            m_port = m_process.readLine();
    }
    bool started() const { return !m_port.empty(); }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + m_port + path; }

private:
    ChildProcess m_process;
    std::string m_port;
};
