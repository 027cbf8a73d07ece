#pragma once

#include "downloads/queue.h"

#include <string>

// What one row of the downloads list shows and which of its buttons work, from a snapshot item. Pure.
namespace downloads {

struct RowView
{
    std::string name; // GBK, as the item gives it
    std::string size; // "12.3MiB"; "--" while unknown
    int percent = 0; // 0 to 100; 0 while the size is unknown
    std::string speed; // "1.2MiB/s" while running; empty otherwise
    std::string timeLeft; // "0:00:37" while running; "--:--:--" while unknown; empty when not running
    std::string state; // GBK: "等待中", "下载中", "已暂停", "已完成", or "失败：" and the reason
    // The pause button: "暂停" for running and waiting downloads, "继续" for paused ones; off once ended.
    std::string pauseCaption; // GBK
    bool canPause = false;
    bool canRetry = false; // failed downloads only
};

RowView rowView(const Item &item);

} // namespace downloads
