#include "common/gbk.h"
#include "download/fetch.h"
#include "support/process.h"
#include "support/servers.h"
#include "support/tempdir.h"

#include <future>
#include <gtest/gtest.h>

using namespace download;

namespace {

class FetchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        data = randomBytes(300000, 7);
        writeFile(dir.path() / "data.bin", data);
        server = std::make_unique<ScriptedServer>(dir.path() / "data.bin");
    }
    TempDir dir;
    std::string data;
    std::unique_ptr<ScriptedServer> server;
};

} // namespace

TEST_F(FetchTest, GivesTheBodyOfAnyAnswer)
{
    EXPECT_EQ(FetchUrl(server->url("/404")), "<html><h1>404 Not Found</h1></htm");
    EXPECT_EQ(FetchUrl(server->url("/nolength")), data);
    EXPECT_EQ(FetchUrl(server->url("/redirect")), data);
    EXPECT_EQ(FetchUrl(server->url("/file#fragment")), data);
}

TEST_F(FetchTest, CommandLineToolOpensLibcurlWhenItFirstGoesOnline)
{
    // kavo-cli starts without libcurl and opens it for the first transfer.
    const CommandResult fetched = runCommand(binaryDir() + "/kavo-cli fetch '" + server->url("/redirect") + "'");
    EXPECT_EQ(fetched.status, 0);
    EXPECT_EQ(fetched.out, data);
}

TEST_F(FetchTest, RefusesWhatIsNotAnHttpAddress)
{
    EXPECT_EQ(FetchUrl(""), "");
    EXPECT_EQ(FetchUrl("ftp://127.0.0.1/x"), "");
    EXPECT_EQ(FetchUrl("file:///etc/passwd"), "");
    EXPECT_EQ(FetchUrl("not a url"), "");
    // A live server behind an address without a scheme: nothing is guessed.
    EXPECT_EQ(FetchUrl(server->url("/file").substr(7)), "");
    EXPECT_EQ(FetchUrl(" " + server->url("/file") + " "), data);
}

TEST_F(FetchTest, FailuresCarryTheirReasonBesideTheEmptyBody)
{
    const auto refused = fetchPage("http://127.0.0.1:1/");
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, DownloadError::Kind::Network);
    EXPECT_EQ(refused.error().detail, common::gbk("无法连接到服务器"));
    const auto guessed = fetchPage("127.0.0.1:1/");
    ASSERT_FALSE(guessed.has_value());
    EXPECT_EQ(guessed.error().kind, DownloadError::Kind::Address);
    const auto missing = fetchPage(server->url("/404"));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->status, 404);
    EXPECT_FALSE(missing->brokenOff);
    const auto reset = fetchPage(server->url("/reset"));
    ASSERT_TRUE(reset.has_value());
    ASSERT_TRUE(reset->brokenOff);
    EXPECT_EQ(reset->brokenOff->kind, DownloadError::Kind::Network);
}

TEST_F(FetchTest, SendsCredentialsAndTheProgramsRequest)
{
    EXPECT_EQ(FetchUrl(server->url("/auth")).size(), 4u);
    std::string url = server->url("/auth");
    url.insert(7, "user:secret@");
    EXPECT_EQ(FetchUrl(url), "user:secret");
    const std::string request = FetchUrl(server->url("/request"));
    EXPECT_NE(request.find("GET /request HTTP/1.0\r\n"), std::string::npos);
    EXPECT_NE(request.find("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"), std::string::npos);
    EXPECT_NE(request.find("Accept: */*\r\n"), std::string::npos);
}

TEST_F(FetchTest, KeepsWhatArrivedWhenTheTransferBreaksOff)
{
    const std::string reset = FetchUrl(server->url("/reset"));
    EXPECT_EQ(reset, data.substr(0, reset.size()));
    EXPECT_LT(reset.size(), data.size());
    FetchOptions quick;
    quick.stallTimeout = std::chrono::seconds(1);
    EXPECT_EQ(FetchUrl(server->url("/stall"), quick), data.substr(0, 1000));
}

TEST_F(FetchTest, APageTrickledAByteAtATimeEndsLikeAStalledOne)
{
    // A byte every 20 ms is never a second of silence, yet the page would take six hours.
    std::stop_source giveUp;
    FetchOptions quick;
    quick.stallTimeout = std::chrono::seconds(1);
    quick.stop = giveUp.get_token();
    auto fetched = std::async(std::launch::async, [&] { return fetchPage(server->url("/drip?ms=20"), quick); });
    const bool ended = fetched.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    giveUp.request_stop();
    ASSERT_TRUE(ended);
    const auto page = fetched.get();
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->status, 200);
    ASSERT_TRUE(page->brokenOff.has_value());
    EXPECT_LT(page->body.size(), 1024u);
}

TEST_F(FetchTest, PageTextIsCutBetweenLiteralMarkers)
{
    EXPECT_EQ(FetchPageText(server->url("/page"), common::gbk("广告："), "-"), "Hello");
    EXPECT_EQ(FetchPageText(server->url("/page"), common::gbk("公告："), "-"), "Line");
    EXPECT_EQ(FetchPageText(server->url("/page"), "<P>", "</p>"), "");
    EXPECT_EQ(FetchPageText(server->url("/404"), "<h1>", "</h1>"), "404 Not Found");
}
