#include "common/gbk.h"
#include "download/byterange_print.h"
#include "download/downloaderror.h"
#include "download/httpanswer.h"
#include "download/naming.h"
#include "download/progress.h"
#include "download/segments.h"

#include <gtest/gtest.h>
#include <set>

using namespace download;

TEST(Naming, CounterGoesBeforeTheFirstDot)
{
    EXPECT_EQ(nextName("setup.exe"), "setup(1).exe");
    EXPECT_EQ(nextName("setup(1).exe"), "setup(2).exe");
    EXPECT_EQ(nextName("a.tar.gz"), "a(1).tar.gz");
    EXPECT_EQ(nextName("README"), "README(1)");
    EXPECT_EQ(nextName("README(9)"), "README(10)");
    EXPECT_EQ(nextName("x(y).zip"), "x(y)(1).zip");
    EXPECT_EQ(nextName(".hidden"), "(1).hidden");
}

TEST(Naming, GivesUpAfter99Tries)
{
    std::set<std::string> taken{"a.zip", "a(1).zip", "a(2).zip"};
    EXPECT_EQ(firstFreeName("a.zip", [&](const std::string &n) { return taken.count(n) > 0; }), "a(3).zip");
    EXPECT_EQ(firstFreeName("a.zip", [](const std::string &) { return true; }), std::nullopt);
    int asked = 0;
    firstFreeName("a.zip", [&](const std::string &) { return ++asked > 0; });
    EXPECT_EQ(asked, 100);
}

TEST(Segments, SplitEvenlyAndHandOverHalfOfTheLargest)
{
    EXPECT_EQ(splitEvenly(100, 3, 1), (std::vector<ByteRange>{{0, 33}, {33, 66}, {66, 100}}));
    EXPECT_EQ(splitEvenly(100, 10, 50), (std::vector<ByteRange>{{0, 50}, {50, 100}}));
    EXPECT_EQ(splitEvenly(10, 10, 50), (std::vector<ByteRange>{{0, 10}}));
    EXPECT_EQ(splitEvenly(0, 4, 50), (std::vector<ByteRange>{{0, 0}}));
    EXPECT_EQ(secondHalfOfLargest({{0, 10}, {20, 120}}, 10), (ByteRange{70, 120}));
    EXPECT_EQ(secondHalfOfLargest({{0, 10}}, 10), std::nullopt);
    EXPECT_EQ(secondHalfOfLargest({}, 1), std::nullopt);
}

TEST(HttpAnswer, ReadsStatusRangesAndHeaders)
{
    const auto range = parseContentRange("Content-Range: bytes 100-199/1000\r\n");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 100);
    EXPECT_EQ(range->last, 199);
    EXPECT_EQ(range->total, 1000);
    EXPECT_EQ(parseContentRange("bytes 0-0/*")->total, -1);
    for (const char *bad :
        {"bytes 5-4/10", "bytes 0-10/10", "bytes -1-2/3", "items 0-1/2", "bytes 0-1", "", "bytes a-b/c"})
        EXPECT_FALSE(parseContentRange(bad)) << bad;
    EXPECT_EQ(parseStatusLine("HTTP/1.0 206 Partial\r\n"), 206);
    EXPECT_EQ(parseStatusLine("HTTP/2 200"), std::nullopt);
    EXPECT_EQ(parseStatusLine("HTTP/1.1 9999"), std::nullopt);
    EXPECT_EQ(headerValue("content-length:  42 \r\n", "Content-Length"), "42");
    EXPECT_EQ(headerValue("Content-Type: x", "Content-Length"), std::nullopt);
    EXPECT_EQ(refererOf("http://h/dir/file.zip"), "http://h/dir");
}

TEST(Progress, LabelFloorsAndBarRoundsToTwoDecimalsFirst)
{
    EXPECT_EQ(progressView(499975, 1000000.0).labelPercent, 49);
    EXPECT_EQ(progressView(499975, 1000000.0).barPosition, 50);
    EXPECT_EQ(progressView(1, 3.0).labelPercent, 33);
    EXPECT_EQ(progressView(1, 3.0).barPosition, 33);
    EXPECT_EQ(progressView(5, 0.0).labelPercent, 0);
    EXPECT_EQ(progressView(0, 0.0).barPosition, 0);
    EXPECT_EQ(progressView(10, 10.0).barPosition, 100);
}

TEST(Progress, SpeedAndTimeLeftAreShownAsDownloadToolsShowThem)
{
    EXPECT_EQ(formatBytes(512), "512B");
    EXPECT_EQ(formatBytes(1536), "1.5KiB");
    EXPECT_EQ(formatBytes(5.0 * 1024 * 1024), "5.0MiB");
    EXPECT_EQ(formatBytes(3.0 * 1024 * 1024 * 1024), "3.0GiB");
    EXPECT_EQ(formatSpeed(2.5 * 1024 * 1024), "2.5MiB/s");
    EXPECT_EQ(formatTimeLeft(std::nullopt), "--:--:--");
    EXPECT_EQ(formatTimeLeft(65), "0:01:05");
    EXPECT_EQ(formatTimeLeft(90061), "25:01:01");
    EXPECT_EQ(secondsLeft(0, 0.0, 100.0), std::nullopt);
    EXPECT_EQ(secondsLeft(0, 1000.0, 0.0), std::nullopt);
    EXPECT_EQ(secondsLeft(250, 1000.0, 100.0), 8);
    EXPECT_EQ(progressTip(1024, 37), common::gbk("速度 1.0KiB/s，剩余时间 0:00:37"));
}

TEST(Progress, SpeedIsMeasuredOverTheLastFewSeconds)
{
    using namespace std::chrono_literals;
    SpeedMeter meter(3s);
    const auto start = SpeedMeter::Clock::now();
    EXPECT_EQ(meter.bytesPerSecond(), 0);
    meter.add(start, 0);
    meter.add(start + 50ms, 1000);
    EXPECT_EQ(meter.bytesPerSecond(), 0); // too short to tell
    for (int second = 1; second <= 10; ++second)
        meter.add(start + std::chrono::seconds(second), second * 1000);
    EXPECT_NEAR(meter.bytesPerSecond(), 1000, 1);
    // A burst long ago no longer counts.
    meter.add(start + 11s, 100000);
    meter.add(start + 15s, 100000);
    meter.add(start + 16s, 100000);
    EXPECT_NEAR(meter.bytesPerSecond(), 0, 1);
    // A download that started over begins a new measure.
    meter.add(start + 17s, 0);
    meter.add(start + 18s, 500);
    EXPECT_NEAR(meter.bytesPerSecond(), 500, 1);
}

TEST(DownloadErrors, ReasonsReadAsPlainChinese)
{
    using Kind = DownloadError::Kind;
    EXPECT_EQ(
        describeDownloadError({Kind::HttpStatus, false, 404, ""}), common::gbk("服务器回答 HTTP 404：文件不存在"));
    EXPECT_EQ(describeDownloadError({Kind::Network, true, 0, common::gbk("连接超时")}),
        common::gbk("网络连接出错：连接超时"));
    EXPECT_EQ(describeDownloadError({Kind::Stopped, false, 0, ""}), common::gbk("下载已停止"));
    EXPECT_EQ(describeDownloadError({Kind::HttpStatus, false, 418, ""}), common::gbk("服务器回答 HTTP 418"));
}

TEST(Progress, RatesAreReadInBytesKibibytesOrMebibytesPerSecond)
{
    const struct
    {
        const char *text;
        std::optional<std::int64_t> rate;
    } cases[] = {
        {"1000", 1000},
        {"512K", 524288},
        {"512k", 524288},
        {"5M", 5242880},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"K", std::nullopt},
        {"-5M", std::nullopt},
        {"1.5M", std::nullopt},
        {"5G", std::nullopt},
        {"99999999999999M", std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseRate(row.text), row.rate);
    }
}
