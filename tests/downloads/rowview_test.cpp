#include "common/gbk.h"
#include "downloads/rowview.h"

#include <gtest/gtest.h>

using common::gbk;
using downloads::State;

TEST(RowView, ShowsStateProgressAndButtonsOfEachKindOfItem)
{
    const struct
    {
        const char *name;
        State state;
        std::int64_t size, received;
        const char *reason;
        int percent;
        const char *stateText, *pauseCaption;
        bool canPause, canRetry, showsSpeed;
    } cases[]{
        {"waiting, size unknown", State::Waiting, 0, 0, "", 0, "等待中", "暂停", true, false, false},
        {"running", State::Running, 4000, 1000, "", 25, "下载中", "暂停", true, false, true},
        {"paused", State::Paused, 4000, 3999, "", 99, "已暂停", "继续", true, false, false},
        {"finished without a size", State::Finished, 0, 0, "", 100, "已完成", "暂停", false, false, false},
        {"more bytes than announced", State::Running, 10, 20, "", 100, "下载中", "暂停", true, false, true},
        {"failed", State::Failed, 10, 5, "网络错误", 50, "失败：网络错误", "暂停", false, true, false},
        {"failed without a reason", State::Failed, 0, 0, "", 0, "失败", "暂停", false, true, false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        downloads::Item item;
        item.state = row.state;
        item.size = row.size;
        item.received = row.received;
        item.reason = gbk(row.reason);
        item.bytesPerSecond = 100;
        const downloads::RowView view = downloads::rowView(item);
        EXPECT_EQ(view.percent, row.percent);
        EXPECT_EQ(view.state, gbk(row.stateText));
        EXPECT_EQ(view.pauseCaption, gbk(row.pauseCaption));
        EXPECT_EQ(view.canPause, row.canPause);
        EXPECT_EQ(view.canRetry, row.canRetry);
        EXPECT_EQ(view.speed.empty(), !row.showsSpeed);
        EXPECT_EQ(view.size, row.size ? view.size : std::string("--"));
    }
}
