#include "download/downloaderror.h"

#include "common/gbk.h"

namespace download {

namespace {

std::string statusWords(int status)
{
    switch (status) {
    case 401:
    case 403:
        return common::gbk("没有访问权限");
    case 404:
    case 410:
        return common::gbk("文件不存在");
    case 416:
        return common::gbk("服务器拒绝了请求的范围");
    case 408:
    case 429:
        return common::gbk("服务器繁忙");
    default:
        return status >= 500 ? common::gbk("服务器出错或暂时不可用") : std::string();
    }
}

std::string kindWords(const DownloadError &error)
{
    using Kind = DownloadError::Kind;
    switch (error.kind) {
    case Kind::Address:
    case Kind::NoDirectLink:
        return common::gbk("下载地址无效");
    case Kind::Network:
        return common::gbk("网络连接出错");
    case Kind::HttpStatus:
        return common::gbk("服务器回答 HTTP ") + std::to_string(error.httpStatus);
    case Kind::Changed:
        return common::gbk("文件在服务器上已经改变");
    case Kind::Disk:
        return common::gbk("无法写入文件");
    case Kind::NameRefused:
        return common::gbk("无法使用这个文件名");
    case Kind::Checksum:
        return common::gbk("文件校验不符");
    case Kind::TooLarge:
        return common::gbk("文件超过了允许的大小");
    case Kind::Stopped:
        return common::gbk("下载已停止");
    }
    return {};
}

} // namespace

std::string describeDownloadError(const DownloadError &error)
{
    std::string detail = error.detail;
    if (detail.empty() && error.kind == DownloadError::Kind::HttpStatus)
        detail = statusWords(error.httpStatus);
    const std::string words = kindWords(error);
    return detail.empty() ? words : words + common::gbk("：") + detail;
}

void noteKept(DownloadError &error)
{
    if (error.detail.empty() && error.kind == DownloadError::Kind::HttpStatus)
        error.detail = statusWords(error.httpStatus);
    error.detail += common::gbk(error.detail.empty() ? "" : "；") + common::gbk("已下载的部分已保留，再次下载时继续");
}

} // namespace download
