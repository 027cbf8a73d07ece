#include "publish/publisherror.h"

namespace publish {

namespace {

const char *what(PublishError::Kind kind)
{
    using Kind = PublishError::Kind;
    switch (kind) {
    case Kind::Unreadable:
        return "无法读取";
    case Kind::FolderNotMade:
        return "无法创建文件夹";
    case Kind::NotWritten:
        return "无法写入";
    case Kind::NotReplaced:
        return "无法替换";
    case Kind::NotAFolder:
        return "不是文件夹";
    case Kind::Busy:
        return "另一个发布正在写入这个文件夹，等它结束后再发布";
    case Kind::Moved:
        return "在发布开始时被替换了，请重新发布";
    case Kind::NotLocked:
        return "无法锁定";
    case Kind::NotRemoved:
        return "上次发布留下的记录无法删除";
    }
    return "";
}

bool hasCause(PublishError::Kind kind)
{
    using Kind = PublishError::Kind;
    return kind != Kind::NotAFolder && kind != Kind::Busy && kind != Kind::Moved;
}

} // namespace

std::string describe(const PublishError &error)
{
    std::string text = what(error.kind);
    if (hasCause(error.kind))
        text += "：" + error.cause.describe();
    if (error.kind == PublishError::Kind::NotReplaced && error.completedLater)
        text += "；下一次发布到这个文件夹时会完成替换";
    return text;
}

} // namespace publish
