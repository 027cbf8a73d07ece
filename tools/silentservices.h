#pragma once

// Services that do nothing, for the tools that drive the windows without a person: the benchmarks and the
// screenshot taker. No sound, no notices, no dialogs, no browser or clipboard.
#include "appearance/notifier.h"
#include "appearance/ui/picturepicker.h"
#include "download/ui/netdiskwindow.h"
#include "platform/desktop.h"
#include "platform/sound.h"

struct SilentSound final : platform::Sound
{
    void play(std::string, bool) override { }
    void stopAll() override { }
};

struct NoNotices final : appearance::Notifier
{
    void showMessage(const std::string &, bool) override { }
};

struct NoFolderPicker final : download::FolderPicker
{
    QString pickFolder(QWidget *, const QString &, const QString &) override { return {}; }
};

struct NoPictures final : appearance::PicturePicker
{
    QString pickPicture(QWidget *) override { return {}; }
};

struct NoDesktop final : platform::Desktop
{
    bool openAddress(std::string_view) override { return false; }
    bool openFolder(const std::filesystem::path &) override { return false; }
    void setClipboardText(std::string_view) override { }
};
