#include "downloads/rowview.h"

#include "common/gbk.h"
#include "download/progress.h"

namespace downloads {

using common::gbk;

namespace {

std::string stateText(const Item &item)
{
    switch (item.state) {
    case State::Waiting:
        return gbk("等待中");
    case State::Running:
        return gbk("下载中");
    case State::Paused:
        return gbk("已暂停");
    case State::Finished:
        return gbk("已完成");
    case State::Failed:
        return item.reason.empty() ? gbk("失败") : gbk("失败：") + item.reason;
    }
    return {};
}

} // namespace

RowView rowView(const Item &item)
{
    RowView view;
    view.name = item.name;
    view.size = item.size > 0 ? download::formatBytes(static_cast<double>(item.size)) : std::string("--");
    view.percent = percentOf(item);
    if (item.state == State::Running) {
        view.speed = download::formatSpeed(item.bytesPerSecond);
        view.timeLeft = download::formatTimeLeft(
            download::secondsLeft(item.received, static_cast<double>(item.size), item.bytesPerSecond));
    }
    view.state = stateText(item);
    view.canPause = item.state == State::Running || item.state == State::Waiting || item.state == State::Paused;
    view.pauseCaption = item.state == State::Paused ? gbk("继续") : gbk("暂停");
    view.canRetry = item.state == State::Failed;
    return view;
}

} // namespace downloads
