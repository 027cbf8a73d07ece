#pragma once

#include "common/networkpool.h"
#include "download/download.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "support/tempdir.h"
#include "ui/fakes.h"

#include <functional>
#include <memory>

// Every service a main window needs, faked, over a fresh program directory. Test fixtures inherit it.
struct FakeServices
{
    mainwindow::Services services(platform::HotKeys *hotKeys = nullptr, platform::SingleInstance *instance = nullptr)
    {
        return {settings, home.path(), sound, desktop, notifier, picker, picturePicker, fetch, mailSender,
            common::networkPool(), hotKeys, instance};
    }

    TempDir home;
    settings::Settings settings{home.path()};
    FakeSound sound;
    FakeDesktop desktop;
    FakeNotifier notifier;
    download::Download downloader;
    FakePicker picker;
    FakePicturePicker picturePicker;
    std::function<std::string(const std::string &)> fetch = [](const std::string &) { return std::string(); };
    std::shared_ptr<feedback::MailSender> mailSender = std::make_shared<feedback::MailSender>();
};
