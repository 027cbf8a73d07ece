#pragma once

#include "appearance/notifier.h"
#include "appearance/ui/picturepicker.h"
#include "download/ui/netdiskwindow.h"
#include "platform/desktop.h"
#include "platform/hotkeys.h"
#include "platform/sound.h"

#include <functional>
#include <string>
#include <vector>

struct FakeSound final : platform::Sound
{
    struct Played
    {
        std::string bytes;
        bool loop;
    };
    void play(std::string wavBytes, bool loop) override { played.push_back({std::move(wavBytes), loop}); }
    void stopAll() override { ++stops; }
    std::vector<Played> played;
    int stops = 0;
};

struct FakeDesktop final : platform::Desktop
{
    bool openAddress(std::string_view gbkAddress) override
    {
        opened.emplace_back(gbkAddress);
        // As the system's hand-off: a text of blanks names nothing to open.
        return gbkAddress.find_first_not_of(' ') != std::string_view::npos;
    }
    bool openFolder(const std::filesystem::path &folder) override
    {
        folders.push_back(folder);
        return true;
    }
    void setClipboardText(std::string_view gbkText) override { clipboard = gbkText; }
    std::vector<std::string> opened;
    std::vector<std::filesystem::path> folders;
    std::string clipboard;
};

struct FakeHotKeys final : platform::HotKeys
{
    int registerKey(int virtualKey) override
    {
        keys.push_back(virtualKey);
        return static_cast<int>(keys.size()) + 100;
    }
    void unregisterAll() override { keys.clear(); }
    // Identifier of a registered virtual key, as the window stored it.
    int identifierOf(int virtualKey) const
    {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == virtualKey)
                return static_cast<int>(i) + 101;
        }
        return 0;
    }
    void press(int virtualKey) { emit pressed(identifierOf(virtualKey)); }
    std::vector<int> keys;
};

struct FakeNotifier final : appearance::Notifier
{
    struct Notice
    {
        std::string text;
        bool modal;
    };
    void showMessage(const std::string &gbkText, bool modal) override { notices.push_back({gbkText, modal}); }
    std::vector<Notice> notices;
};

struct FakePicker final : download::FolderPicker
{
    QString pickFolder(QWidget *, const QString &prompt, const QString &start) override
    {
        prompts.push_back(prompt);
        starts.push_back(start);
        return answer;
    }
    QString answer;
    QStringList prompts;
    QStringList starts;
};

struct FakePicturePicker final : appearance::PicturePicker
{
    QString pickPicture(QWidget *) override
    {
        ++asked;
        if (whileOpen)
            whileOpen();
        return answer;
    }
    QString answer;
    int asked = 0;
    std::function<void()> whileOpen; // runs while the dialog would be open
};
