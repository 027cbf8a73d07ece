#include "support/process.h"
#include "support/servers.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

// kavo-cli with `environment` before it; `streams` picks what comes back ("2>&1 >/dev/null" for stderr).
CommandResult kavoCli(const std::string &environment, const std::string &arguments, const char *streams)
{
    return runCommand(environment + " " + binaryDir() + "/kavo-cli " + arguments + " " + streams);
}

constexpr const char *Stdout = "2>/dev/null";
constexpr const char *Stderr = "2>&1 >/dev/null";

const std::string Description = "<meta content=\"文件名:a.zip 文件大小:1KB 分享者:x 分享时间:2020 下载次数:3\" "
                                "name=\"description\"/>";

} // namespace

TEST(CliPages, FailedReadsOfPagesExitNonZeroWithTheReason)
{
    TempDir dir;
    writeFile(dir.path() / "page.html", Description + "\xFF"); // not UTF-8 as a whole
    const ScriptedServer server(dir.path() / "page.html");
    const std::string closed = "http://127.0.0.1:" + std::to_string(freeLoopbackPort());
    const std::string share = "/share/link?shareid=1234567890&uk=1234567890123456789";
    struct Case
    {
        const char *name;
        std::string environment;
        std::string arguments;
        int status;
        std::string reason; // a part of stderr
    };
    const std::vector<Case> cases{
        {"manifest, no server", "KAVO_MANIFEST_URL=" + closed, "manifest 广告：", 1, "网络连接出错"},
        {"manifest, error page", "KAVO_MANIFEST_URL=" + server.url("/404"), "manifest 广告：", 1, "HTTP 404"},
        {"manifest, not UTF-8", "KAVO_MANIFEST_URL=" + server.url("/file"), "manifest 广告：", 1, "UTF-8"},
        {"page, server error", "", "page " + server.url("/status?code=500") + " a b", 1, "HTTP 500"},
        {"resolve, no server", "", "resolve '" + closed + share + "'", 1, "网络连接出错"},
        {"resolve, no direct link", "", "resolve '" + server.url(share) + "'", 1, "没有找到下载直链"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        const CommandResult errors = kavoCli(row.environment, row.arguments, Stderr);
        EXPECT_EQ(errors.status, row.status);
        EXPECT_NE(errors.out.find(row.reason), std::string::npos) << errors.out;
    }
}

TEST(CliPages, AFieldMissingFromAPageThatCameIsAnEmptyValue)
{
    TempDir dir;
    writeFile(dir.path() / "page.html", Description + "dlink\\\":\\\"http:\\\\/\\\\/h\\\\/f.zip\\\"");
    const ScriptedServer server(dir.path() / "page.html");
    const std::string manifest = "KAVO_MANIFEST_URL=" + server.url("/page");
    EXPECT_EQ(kavoCli(manifest, "manifest 广告：", Stdout).out, "Hello\n");
    const CommandResult missing = kavoCli(manifest, "manifest 常用软件：", Stdout);
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, "\n");
    const CommandResult resolved
        = kavoCli("", "resolve '" + server.url("/share/link?shareid=1234567890&uk=1") + "'", Stdout);
    EXPECT_EQ(resolved.status, 0);
    EXPECT_NE(resolved.out.find("dlink\thttp://h/f.zip\n"), std::string::npos) << resolved.out;
}
