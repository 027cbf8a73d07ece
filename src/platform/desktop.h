#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// The shell and the clipboard. UI thread only.
class Desktop
{
public:
    virtual ~Desktop() = default;
    // Hands an address or link (GBK) to the system's default handler. False when nothing took it.
    virtual bool openAddress(std::string_view gbkAddress) = 0;
    // Hands a folder (native path) to the system's file manager. False when nothing took it.
    virtual bool openFolder(const std::filesystem::path &folder) = 0;
    // Puts plain text (GBK) on the clipboard.
    virtual void setClipboardText(std::string_view gbkText) = 0;
};

} // namespace platform

#include <memory>

namespace platform {

// xdg-open and the application clipboard.
std::unique_ptr<Desktop> createDesktop();

} // namespace platform
