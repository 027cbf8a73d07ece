#include "appearance/ui/messagewindow.h"
#include "appearance/ui/picturepicker.h"
#include "download/download.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "platform/desktop.h"
#include "platform/hotkeys.h"
#include "platform/paths.h"
#include "platform/singleinstance.h"
#include "platform/sound.h"
#include "settings/settings.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kavo/program.png")));

    const std::filesystem::path home = platform::programDirectory();
    const settings::Settings settings(home);
    const auto sound = platform::createSound();
    const auto desktop = platform::createDesktop();
    const auto hotKeys = platform::createHotKeys();
    platform::SingleInstance instance(platform::SingleInstance::defaultName());

    appearance::MessageNotifier notifier(*sound, &settings, nullptr);

    download::Download downloader;
    const auto picker = download::createFolderPicker();
    const auto picturePicker = appearance::createPicturePicker();
    const auto fetch = [](const std::string &url) { return download::FetchUrl(url); };

    const auto mailSender = std::make_shared<feedback::MailSender>();

    mainwindow::MainWindow window({settings, home, *sound, *desktop, notifier, downloader, *picker, *picturePicker,
        fetch, mailSender, hotKeys.get(), &instance});
    if (!window.startUp())
        return 0;
    return QApplication::exec();
}
