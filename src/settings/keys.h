#pragma once

#include <string_view>

// Every section, key and default of the settings file, declared once. Texts are UTF-8 here and turn into GBK
// through Settings. A default of nullptr-like "" is an empty text.
namespace settings {

struct SettingKey
{
    std::string_view section;
    std::string_view key;
    std::string_view defaultValue;
};

namespace keys {

// Versions of the local category lists, one per category, named by the category.
inline constexpr std::string_view VersionSection = "更新";
inline constexpr std::string_view VersionDefault = "1.0";
inline constexpr SettingKey SoftwareVersion{VersionSection, "软件下载", VersionDefault};
inline constexpr SettingKey SourceVersion{VersionSection, "源码下载", VersionDefault};
inline constexpr SettingKey ModuleVersion{VersionSection, "模块下载", VersionDefault};
inline constexpr SettingKey TipsVersion{VersionSection, "电脑技术", VersionDefault};
inline constexpr SettingKey CommonVersion{VersionSection, "常用软件", VersionDefault};

inline constexpr SettingKey SaveFolder{"保存", "地址", "C:\\Users\\Administrator\\Desktop\\"};
inline constexpr SettingKey AutoCloseTool{"记录", "是否记住名称2", "否"};
inline constexpr SettingKey RememberName{"记录", "是否记住名称", "否"};
inline constexpr SettingKey UserName{"记录", "名称", "网友"};
inline constexpr SettingKey SearchText{"搜索", "内容", "请输入要查找的名称"};
inline constexpr SettingKey PlayMusic{"音乐", "是否播放", "否"};
// The default depends on the program directory: Settings::animatedPicture() supplies it.
inline constexpr SettingKey AnimatedPicture{"图片", "跳动图片", ""};
inline constexpr SettingKey BackgroundFile{"图片", "背景图片", ""};
inline constexpr SettingKey BackgroundNumber{"背景", "名称", ""};

// The downloads list: how many run at once, the speed limit shared by the running ones (bytes per second, or
// with K or M after the number; 0: none), and the proxy ("系统", "无" or "手动" with its address).
inline constexpr SettingKey DownloadConcurrency{"下载", "同时下载数", "3"};
inline constexpr SettingKey DownloadSpeedLimit{"下载", "限速", "0"};
inline constexpr SettingKey ProxyMode{"下载", "代理方式", "系统"};
inline constexpr SettingKey ProxyAddress{"下载", "代理地址", ""};

} // namespace keys

inline constexpr std::string_view Yes = "是";
inline constexpr std::string_view No = "否";

} // namespace settings
