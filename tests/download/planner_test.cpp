#include "download/byterange_print.h"
#include "download/segmentplanner.h"

#include <gtest/gtest.h>

using namespace download;
using namespace std::chrono_literals;

namespace {

using Clock = SegmentPlanner::Clock;

std::vector<ByteRange> partsOf(const SegmentPlanner &planner)
{
    std::vector<ByteRange> parts;
    for (std::size_t i = 0; i < planner.partCount(); ++i)
        parts.push_back({planner.part(i).position, planner.part(i).end});
    return parts;
}

} // namespace

TEST(SegmentPlanner, SharesTheUnfinishedBytesAmongTheConnections)
{
    const struct
    {
        const char *name;
        std::vector<ByteRange> unfinished;
        int connections;
        std::vector<ByteRange> parts;
    } cases[] = {
        {"a fresh file in four", {{0, 1000}}, 4, {{0, 250}, {250, 500}, {500, 750}, {750, 1000}}},
        {"a small file stays whole", {{0, 150}}, 10, {{0, 150}}},
        {"no part under the minimum", {{0, 450}}, 10, {{0, 112}, {112, 225}, {225, 337}, {337, 450}}},
        {"parts of exactly the minimum", {{0, 200}}, 2, {{0, 100}, {100, 200}}},
        {"holes of a resumed file: the spare connection goes to the largest", {{0, 100}, {500, 1000}}, 3,
            {{0, 100}, {500, 750}, {750, 1000}}},
        {"more holes than connections", {{0, 200}, {300, 500}, {600, 800}}, 2, {{0, 200}, {300, 500}, {600, 800}}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        SegmentPlanner planner(row.connections, 100, 1s);
        planner.reset(row.unfinished);
        planner.share();
        std::vector<ByteRange> parts = partsOf(planner);
        std::sort(parts.begin(), parts.end(), [](const ByteRange &a, const ByteRange &b) { return a.begin < b.begin; });
        EXPECT_EQ(parts, row.parts);
        EXPECT_EQ(planner.unfinished(), row.unfinished);
    }
}

TEST(SegmentPlanner, OneConnectionProbesUntilRangesAreKnownToWork)
{
    SegmentPlanner planner(4, 100, 1s);
    planner.reset({{0, SegmentPlanner::Unbounded}});
    const auto now = Clock::now();
    EXPECT_EQ(planner.startNext(now), 0u);
    EXPECT_EQ(planner.startNext(now), std::nullopt);
    planner.learnTotal(1000);
    planner.share();
    // The probe keeps the first quarter; three more may start at once, and no fifth.
    EXPECT_EQ(planner.part(0).end, 250);
    EXPECT_EQ(planner.startNext(now), 1u);
    EXPECT_EQ(planner.startNext(now), 2u);
    EXPECT_EQ(planner.startNext(now), 3u);
    EXPECT_EQ(planner.startNext(now), std::nullopt);
}

TEST(SegmentPlanner, AFinishedConnectionTakesOverHalfOfTheLargestRunningPart)
{
    SegmentPlanner planner(2, 100, 1s);
    planner.reset({{0, 1000}});
    planner.share();
    const auto now = Clock::now();
    ASSERT_EQ(planner.startNext(now), 0u);
    ASSERT_EQ(planner.startNext(now), 1u);
    planner.advance(0, 500);
    planner.advance(1, 100); // part 1 still has [600, 1000)
    EXPECT_EQ(planner.ended(0, 0, true, now), SegmentPlanner::Ending::Done);
    //   [#####|#....|....]  the new part takes [800, 1000)
    EXPECT_EQ(planner.part(1).end, 800);
    EXPECT_EQ(planner.part(2).position, 800);
    EXPECT_EQ(planner.part(2).end, 1000);
    EXPECT_EQ(planner.startNext(now), 2u);
    EXPECT_EQ(planner.finished(1000), (std::vector<ByteRange>{{0, 600}}));
}

TEST(SegmentPlanner, GivesUpAfterSixAttemptsInARowWithoutAByte)
{
    const struct
    {
        const char *name;
        std::vector<std::int64_t> progress; // bytes each attempt brought before it failed
        SegmentPlanner::Ending last;
    } cases[] = {
        {"five empty attempts are retried", {0, 0, 0, 0, 0}, SegmentPlanner::Ending::Retry},
        {"the sixth empty attempt gives up", {0, 0, 0, 0, 0, 0}, SegmentPlanner::Ending::GiveUp},
        {"progress starts the count again", {0, 0, 0, 0, 0, 10, 0, 0, 0, 0}, SegmentPlanner::Ending::Retry},
        {"and six more after it give up", {0, 0, 0, 0, 10, 0, 0, 0, 0, 0}, SegmentPlanner::Ending::GiveUp},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        SegmentPlanner planner(1, 100, 1s, 6, [] { return 0.0; }); // retries wait for nothing here
        planner.reset({{0, 1000}});
        auto now = Clock::now();
        SegmentPlanner::Ending ending = SegmentPlanner::Ending::Retry;
        for (const std::int64_t bytes : row.progress) {
            ASSERT_EQ(ending, SegmentPlanner::Ending::Retry);
            const auto part = planner.startNext(now);
            ASSERT_EQ(part, 0u);
            const std::int64_t from = planner.part(0).position;
            planner.advance(0, bytes);
            ending = planner.ended(0, from, false, now);
            now += 1s;
        }
        EXPECT_EQ(ending, row.last);
    }
}

TEST(SegmentPlanner, RetriesWaitTheDelayExceptAfterACleanShortAnswer)
{
    SegmentPlanner planner(1, 100, 1s, 6, [] { return 1.0; }); // the longest wait the schedule allows
    planner.reset({{0, 1000}});
    const auto now = Clock::now();
    ASSERT_EQ(planner.startNext(now), 0u);
    EXPECT_EQ(planner.ended(0, 0, false, now), SegmentPlanner::Ending::Retry);
    EXPECT_EQ(planner.nextRetry(), now + 1s);
    EXPECT_EQ(planner.startNext(now + 999ms), std::nullopt);
    ASSERT_EQ(planner.startNext(now + 1s), 0u);
    // The server gave fewer bytes than asked, and ended well: ask for the rest at once.
    planner.advance(0, 300);
    EXPECT_EQ(planner.ended(0, 0, true, now + 1s), SegmentPlanner::Ending::Retry);
    EXPECT_EQ(planner.startNext(now + 1s), 0u);
    // An answer without a length that ends well completes the file.
    SegmentPlanner unknown(1, 100, 1s);
    unknown.reset({{0, SegmentPlanner::Unbounded}});
    ASSERT_EQ(unknown.startNext(now), 0u);
    unknown.advance(0, 77);
    EXPECT_EQ(unknown.ended(0, 0, true, now), SegmentPlanner::Ending::Done);
    EXPECT_TRUE(unknown.allDone());
    EXPECT_EQ(unknown.part(0).end, 77);
}

TEST(SegmentPlanner, PiecesAreTakenInOrderSoTheFinishedPrefixGrows)
{
    SegmentPlanner planner(2, 10, 1s);
    planner.reset({{0, 1000}});
    planner.share(300);
    const auto now = Clock::now();
    const auto first = planner.startNext(now);
    const auto second = planner.startNext(now);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(planner.part(*first).position, 0);
    EXPECT_EQ(planner.part(*second).position, 300);
    EXPECT_FALSE(planner.startNext(now));
    planner.advance(*first, 300);
    EXPECT_EQ(planner.ended(*first, 0, true, now), SegmentPlanner::Ending::Done);
    const auto third = planner.startNext(now);
    ASSERT_TRUE(third);
    EXPECT_EQ((ByteRange{planner.part(*third).position, planner.part(*third).end}), (ByteRange{600, 900}));
}

TEST(RetrySchedule, WaitsGrowToTheCapWithFullJitterAndNeverUnderTheAskedWait)
{
    double drawn = 0.999999;
    const RetrySchedule schedule(1000ms, 60s, [&drawn] { return drawn; });
    const std::vector<std::chrono::milliseconds> highest{
        999ms, 1999ms, 3999ms, 7999ms, 15999ms, 31999ms, 59999ms, 59999ms};
    for (std::size_t i = 0; i < highest.size(); ++i)
        EXPECT_EQ(schedule.delay(static_cast<int>(i) + 1), highest[i]) << "failure " << i + 1;
    drawn = 0.5;
    EXPECT_EQ(schedule.delay(3), 2000ms);
    drawn = 0;
    EXPECT_EQ(schedule.delay(5), 0ms);
    EXPECT_EQ(schedule.delay(1, 3000ms), 3000ms);
    drawn = 0.999999;
    EXPECT_EQ(schedule.delay(3, 3000ms), 3999ms);
}

TEST(RetrySchedule, RetryAfterIsReadAsSecondsOrADateAndBounded)
{
    const auto now = std::chrono::system_clock::from_time_t(1700000000); // Tue, 14 Nov 2023 22:13:20 GMT
    const struct
    {
        const char *value;
        std::optional<std::chrono::milliseconds> wait;
    } cases[] = {
        {"3", 3000ms},
        {"0", 0ms},
        {"Tue, 14 Nov 2023 22:13:50 GMT", 30000ms},
        {"Tue, 14 Nov 2023 22:00:00 GMT", 0ms},
        {"99999999999", 300000ms},
        {"Wed, 15 Nov 2023 22:13:20 GMT", 300000ms},
        {"-1", std::nullopt},
        {"soon", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(parseRetryAfter(row.value, now), row.wait);
    }
}

TEST(SegmentPlanner, AFailedPartWaitsAsTheScheduleSays)
{
    SegmentPlanner planner(1, 100, 1000ms, 6, [] { return 0.5; });
    planner.reset({{0, 1000}});
    const auto now = Clock::now();
    for (const auto expected : {500ms, 1000ms, 2000ms}) {
        const auto index = planner.startNext(now + 1h);
        ASSERT_TRUE(index);
        EXPECT_EQ(planner.ended(*index, 0, false, now), SegmentPlanner::Ending::Retry);
        EXPECT_EQ(planner.nextRetry(), now + expected);
    }
    const auto index = planner.startNext(now + 1h);
    ASSERT_TRUE(index);
    planner.ended(*index, 0, false, now, 7000ms);
    EXPECT_EQ(planner.nextRetry(), now + 7000ms);
}
