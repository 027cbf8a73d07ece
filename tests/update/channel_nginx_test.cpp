#include "publish/publisher.h"
#include "signing/minisign.h"
#include "support/process.h"
#include "support/servers.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

namespace {

const std::array<const char *, 5> Categories{"软件下载", "源码下载", "模块下载", "电脑技术", "常用软件"};

std::map<std::string, std::string> snapshot(const std::filesystem::path &folder)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().lexically_relative(folder).string()] = entry.is_regular_file() ? readFile(entry) : "/";
    return files;
}

// A signed catalog served by stock nginx as a static host, and a program folder that holds its first lists.
class SignedChannel : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *name : Categories)
            writeFile(m_sources.path() / (std::string(name) + ".tsv"),
                std::string("A\t1MB\t2024.1.1\thttp://a/") + name + "\n");
        writeFile(m_sources.path() / "公告.txt", "公告\n");
        writeFile(m_sources.path() / "广告.txt", "广告\n");
        ASSERT_TRUE(publish(100));
        std::filesystem::copy(root() / "自动更新", m_home.path() / "自动更新");
        writeFile(m_home.path() / "keys" / "author.pub", signing::publicKeyFile(m_keys.first));
    }

    bool publish(std::int64_t timestamp)
    {
        publish::PublishOptions options;
        options.base = m_nginx.url("");
        options.signingKey = &m_keys.second;
        options.timestamp = timestamp;
        return publish::publishCatalog(m_sources.path(), root(), options).has_value();
    }
    void addRecord(int category, const std::string &line)
    {
        const auto file = m_sources.path() / (std::string(Categories[static_cast<std::size_t>(category - 1)]) + ".tsv");
        writeFile(file, readFile(file) + line + "\n");
    }
    CommandResult kavoCli(const std::string &command, const std::filesystem::path &home) const
    {
        return runCommand("KAVO_MANIFEST_URL=" + m_nginx.url("/manifest.html") + " " + binaryDir()
            + "/kavo-cli --home '" + home.string() + "' " + command + " 2>&1");
    }
    // The GETs nginx logged since the last call, as "STATUS PATH" lines.
    std::vector<std::string> requests()
    {
        const std::string log = readFile(m_dir.path() / "access.log");
        std::vector<std::string> lines;
        std::size_t start = m_logRead;
        for (std::size_t end = log.find('\n', start); end != std::string::npos; end = log.find('\n', start)) {
            // The combined format: ... "GET PATH HTTP/1.x" STATUS ...
            static const std::regex request(R"re("GET (\S+) HTTP/[\d.]+" (\d+))re");
            std::smatch match;
            const std::string line = log.substr(start, end - start);
            if (std::regex_search(line, match, request))
                lines.push_back(match[2].str() + " " + match[1].str());
            start = end + 1;
        }
        m_logRead = start;
        return lines;
    }
    static long count(const std::vector<std::string> &lines, const std::string &pattern)
    {
        return std::count_if(lines.begin(), lines.end(),
            [&](const std::string &line) { return std::regex_search(line, std::regex(pattern)); });
    }
    std::filesystem::path root() const { return m_dir.path() / "www"; }

    TempDir m_dir;
    TempDir m_sources;
    TempDir m_home;
    NginxServer m_nginx{
        m_dir.path() / "nginx", m_dir.path() / "www", "access_log " + (m_dir.path() / "access.log").string() + ";"};
    std::pair<signing::PublicKey, signing::SecretKey> m_keys = signing::generateKeyPair();
    std::size_t m_logRead = 0;
};

} // namespace

TEST_F(SignedChannel, UpdateTakesEveryOfferedListWithOneReadOfThePage)
{
    addRecord(2, "B\t2MB\t2024.1.2\thttp://b/");
    addRecord(4, "C\t3MB\t2024.1.3\thttp://c/");
    ASSERT_TRUE(publish(200));
    requests();
    const CommandResult updated = kavoCli("update", m_home.path());
    ASSERT_EQ(updated.status, 0) << updated.out;
    for (const char *name : Categories)
        EXPECT_EQ(readFile(m_home.path() / "自动更新" / (std::string(name) + ".txt")),
            readFile(root() / "自动更新" / (std::string(name) + ".txt")));
    const std::vector<std::string> cold = requests();
    EXPECT_EQ(count(cold, "^200 /manifest.html$"), 1);
    EXPECT_EQ(count(cold, "^20[06] /lists/"), 2);

    const CommandResult again = kavoCli("update --check", m_home.path());
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(again.out.find("是"), std::string::npos) << again.out;
    const std::vector<std::string> warm = requests();
    EXPECT_EQ(count(warm, "^304 /manifest.html$"), 1);
    EXPECT_EQ(count(warm, "/lists/"), 0);
    EXPECT_EQ(warm.size(), 2u);
}

// The manifest, the share pages and the lists' downloads all go through the proxy of the downloads list's options,
// and so do kavo-cli's own page commands.
TEST_F(SignedChannel, UpdateGoesThroughTheProxyTheOptionsName)
{
    addRecord(2, "B\t2MB\t2024.1.2\thttp://b/");
    ASSERT_TRUE(publish(200));
    const std::filesystem::path access = m_dir.path() / "access.log";
    SocksProxy socks(m_dir.path() / "socks.log");
    const struct
    {
        const char *name;
        std::string proxy;
        int status;
        std::set<std::string> clients; // as nginx saw them
    } rows[] = {
        {"a proxy that refuses", "socks5h://127.0.0.1:" + std::to_string(freeLoopbackPort()), 1, {}},
        {"a proxy that serves", socks.url("socks5h"), 0, {"127.0.0.2"}},
    };
    ASSERT_EQ(kavoCli("setting set 下载 代理方式 手动", m_home.path()).status, 0);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(kavoCli("setting set 下载 代理地址 " + row.proxy, m_home.path()).status, 0);
        std::ofstream(access, std::ios::trunc); // nginx appends to the file it opened
        for (const std::string &command :
            std::vector<std::string>{"update", "fetch " + m_nginx.url("/manifest.html"), "manifest 公告"}) {
            const CommandResult ran = kavoCli(command, m_home.path());
            EXPECT_EQ(ran.status, row.status) << command << ": " << ran.out;
        }
        std::set<std::string> clients;
        std::istringstream log(readFile(access));
        for (std::string line; std::getline(log, line);)
            clients.insert(line.substr(0, line.find(' ')));
        EXPECT_EQ(clients, row.clients);
    }
    EXPECT_EQ(readFile(m_home.path() / "自动更新" / "源码下载.txt"), readFile(root() / "自动更新" / "源码下载.txt"));
}

// Each refusal leaves the program folder as it was and says why, with a failing status.
TEST_F(SignedChannel, WhatTheAuthorDidNotSignIsRefused)
{
    const std::string firstPage = readFile(root() / "manifest.html");
    const std::string firstSignature = readFile(root() / "manifest.html.minisig");
    addRecord(2, "B\t2MB\t2024.1.2\thttp://b/");
    ASSERT_TRUE(publish(200));
    const std::string page = readFile(root() / "manifest.html");
    const std::string signature = readFile(root() / "manifest.html.minisig");
    const struct
    {
        const char *name;
        std::function<void()> tamper;
        const char *reason;
    } cases[] = {
        {"a list changed after signing",
            [&] {
                for (const auto &entry : std::filesystem::directory_iterator(root() / "lists"))
                    writeFile(entry.path(), readFile(entry.path()) + "(x)\r\n");
            },
            "大小"},
        {"a page changed after signing", [&] { writeFile(root() / "manifest.html", page + " "); }, "签名"},
        {"no signature", [&] { std::filesystem::remove(root() / "manifest.html.minisig"); }, "没有签名"},
        {"an older signed page played back",
            [&] {
                writeFile(root() / "manifest.html", firstPage);
                writeFile(root() / "manifest.html.minisig", firstSignature);
            },
            "重放"},
    };
    const std::filesystem::path good = m_dir.path() / "good";
    std::filesystem::copy(root(), good, std::filesystem::copy_options::recursive);
    // The home has accepted the newer page once, as a start would.
    ASSERT_EQ(kavoCli("update --check", m_home.path()).status, 0);
    const auto before = snapshot(m_home.path());
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        row.tamper();
        const CommandResult refused = kavoCli("update", m_home.path());
        EXPECT_NE(refused.status, 0);
        EXPECT_NE(refused.out.find(row.reason), std::string::npos) << refused.out;
        EXPECT_EQ(snapshot(m_home.path()), before);
        std::filesystem::remove_all(root());
        std::filesystem::copy(good, root(), std::filesystem::copy_options::recursive);
    }
}

// Signatures agree with the reference tool both ways: it verifies what kavo-cli publish signs with a key it made.
TEST_F(SignedChannel, TheReferenceToolVerifiesWhatPublishSigns)
{
    const std::filesystem::path key = m_dir.path() / "tool.key";
    const std::filesystem::path pub = m_dir.path() / "tool.pub";
    ASSERT_EQ(
        runCommand("minisign -G -W -p '" + pub.string() + "' -s '" + key.string() + "' >/dev/null 2>&1").status, 0);
    const std::filesystem::path out = m_dir.path() / "out";
    const CommandResult published = runCommand(binaryDir() + "/kavo-cli publish '" + m_sources.path().string() + "' '"
        + out.string() + "' --base http://cdn.example --sign '" + key.string() + "' 2>&1");
    ASSERT_EQ(published.status, 0) << published.out;
    const CommandResult verified
        = runCommand("minisign -Vm '" + (out / "manifest.html").string() + "' -p '" + pub.string() + "' 2>&1");
    EXPECT_EQ(verified.status, 0) << verified.out;
    EXPECT_NE(verified.out.find("timestamp:"), std::string::npos) << verified.out;
    const CommandResult wrongKey = runCommand(binaryDir() + "/kavo-cli publish '" + m_sources.path().string() + "' '"
        + out.string() + "' --base http://cdn.example --sign '" + pub.string() + "' 2>&1");
    EXPECT_EQ(wrongKey.status, 1) << wrongKey.out;
}
