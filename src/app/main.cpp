#include "appearance/ui/messagewindow.h"
#include "appearance/ui/picturepicker.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/options.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "platform/desktop.h"
#include "platform/hotkeys.h"
#include "platform/paths.h"
#include "platform/qttranslation.h"
#include "platform/singleinstance.h"
#include "platform/sound.h"
#include "platform/tcpsocket.h"
#include "platform/terminationsignals.h"
#include "settings/settings.h"
#include "update/channel.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stop_token>

namespace {

bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// The exit status when the arguments ask for text instead of the window, or when there is no display to show it
// on (Qt would abort with a core dump); none when the program may start.
std::optional<int> answerWithoutWindow(int argc, char **argv)
{
    bool platformGiven = isSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (!std::strcmp(argument, "--help") || !std::strcmp(argument, "-h")) {
            std::printf("usage: kavo [--help | -h | --version] [Qt options such as -platform NAME]\n"
                        "Opens the KAVO window: five catalogs to browse and search, hand-off to the browser or a\n"
                        "download manager, netdisk downloads and feedback. kavo-cli does the same from scripts.\n");
            return 0;
        }
        if (!std::strcmp(argument, "--version")) {
            std::printf("kavo " KAVO_VERSION "\n");
            return 0;
        }
        platformGiven = platformGiven || !std::strcmp(argument, "-platform") || !std::strcmp(argument, "--platform");
    }
    if (!platformGiven && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
            "kavo: no display to open the window on (DISPLAY is not set); start it from a desktop "
            "session, or use kavo-cli\n");
        return 1;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> status = answerWithoutWindow(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kavo/program.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kavo.Kavo"));
    platform::installQtTranslation(app);
    platform::TerminationSignals terminations;

    const platform::PreparedFiles prepared = platform::prepareUserFiles(platform::programPaths());
    const std::optional<std::string> preparation = platform::describePreparation(prepared);
    if (preparation)
        std::fprintf(stderr, "kavo: %s\n", preparation->c_str());
    const platform::ProgramPaths &paths = prepared.paths;
    settings::Settings settings(paths.settings, paths.data);
    settings.clearStaleTemporaries();
    const auto sound = platform::createSound();
    const auto desktop = platform::createDesktop();
    const auto hotKeys = platform::createHotKeys();
    platform::SingleInstance instance(platform::SingleInstance::defaultName());

    appearance::MessageNotifier notifier(*sound, &settings, nullptr);
    // A choice that the settings file did not take is told on the UI thread, whichever thread wrote it.
    settings.reportUnkeptTo([&notifier, &app](const std::string &gbkText) {
        QMetaObject::invokeMethod(
            &app, [&notifier, gbkText] { notifier.showMessage(gbkText, false); }, Qt::QueuedConnection);
    });

    const auto picker = download::createFolderPicker();
    const auto picturePicker = appearance::createPicturePicker();
    // Quitting ends the page fetches still waiting, so the pool's tasks end and the process with them. Every page
    // fetch goes through the proxy that the downloads list's options name when it starts.
    std::stop_source quitting;
    const auto proxy = downloads::settingsProxy(settings);
    const download::Fetcher fetch = downloads::proxiedFetcher(proxy, quitting.get_token());

    // Quitting also ends a mail under way, however slowly its server answers.
    const auto mailSender = std::make_shared<feedback::MailSender>(
        feedback::MailLimits{}, [stop = quitting.get_token()] { return platform::createTcpSocket(stop); });
    std::vector<std::string> keyProblems;
    const update::ChannelConfig channel = update::programChannel(paths, quitting.get_token(), keyProblems, proxy);
    for (const std::string &problem : keyProblems)
        std::fprintf(stderr, "kavo: %s\n", problem.c_str());

    mainwindow::MainWindow window({settings, paths, *sound, *desktop, notifier, *picker, *picturePicker, fetch,
        mailSender, common::networkPool(), hotKeys.get(), &instance, &QSystemTrayIcon::isSystemTrayAvailable,
        [channel] { return update::readChannelManifest(channel); },
        downloads::shareResolver(proxy, quitting.get_token())});
    // Logout, kill and Ctrl+C end the program as its close button does.
    QObject::connect(&terminations, &platform::TerminationSignals::received, &window, &QWidget::close);
    if (!window.startUp())
        return 0;
    // Said once, when the window stands: the user learns why nothing they set will be kept.
    if (preparation)
        QMetaObject::invokeMethod(
            &window, [&] { notifier.showMessage(common::gbkFromUtf8(*preparation), false); }, Qt::QueuedConnection);
    const int status = QApplication::exec();
    // The tasks that waited end before the window and the services they report to.
    quitting.request_stop();
    common::networkPool().waitForDone();
    return status;
}
