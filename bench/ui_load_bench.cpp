// Loads a 100,000-record category into the main window's list view (offscreen) and reports how long the load
// took and the longest time the event loop went without running a 1 ms timer: the worst freeze a user sees.
// That stall is given twice: as the wall clock saw it, and without the time the UI thread stood ready in the
// system's run queue while other processes had the processors. The second is the freeze the program itself
// causes (its work and its waits on locks or files), which a machine shared with other builds leaves alone.
#include "appearance/notifier.h"
#include "appearance/ui/picturepicker.h"
#include "catalog/catalogmodel.h"
#include "common/networkpool.h"
#include "download/ui/netdiskwindow.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "platform/desktop.h"
#include "platform/sound.h"
#include "settings/settings.h"
#include "silentservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

// Milliseconds the calling thread has waited in the run queue so far, ready to run (Linux schedstat).
qint64 runQueueMilliseconds()
{
    std::ifstream schedstat("/proc/thread-self/schedstat");
    unsigned long long runNanoseconds = 0;
    unsigned long long waitNanoseconds = 0;
    schedstat >> runNanoseconds >> waitNanoseconds;
    return static_cast<qint64>(waitNanoseconds / 1000000);
}

// The longest gaps between ticks of the event loop, with and without the run-queue wait.
struct Stalls
{
    qint64 lastTick = 0;
    qint64 lastWait = 0;
    qint64 longest = 0;
    qint64 longestOwn = 0;

    void tick(qint64 now, qint64 wait)
    {
        longest = std::max(longest, now - lastTick);
        longestOwn = std::max(longestOwn, now - lastTick - (wait - lastWait));
        lastTick = now;
        lastWait = wait;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path home = std::filesystem::temp_directory_path() / "kavo-ui-bench";
    std::filesystem::create_directories(home / "自动更新");
    const QString generator = QStringLiteral(KAVO_SOURCE_DIR "/bench/gen_catalog.py");
    const QString file = QString::fromStdString((home / "自动更新" / "软件下载.txt").string());
    if (QProcess::execute(QStringLiteral("python3"), {generator, file, QStringLiteral("100000")}) != 0)
        return 1;

    const settings::Settings settings(home);
    SilentSound sound;
    NoDesktop desktop;
    NoNotices notices;
    const auto picker = download::createFolderPicker();
    const auto picturePicker = appearance::createPicturePicker();
    mainwindow::MainWindow window({settings, home, sound, desktop, notices, *picker, *picturePicker,
        [](const std::string &) { return std::string(); }, std::make_shared<feedback::MailSender>(),
        common::networkPool(), nullptr, nullptr});
    window.show();

    QElapsedTimer clock;
    Stalls stalls;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        stalls.tick(now, runQueueMilliseconds());
        if (window.form().models[0]->rowCount() == 100000) {
            std::printf("100,000 rows in the view after %lld ms; longest event-loop stall %lld ms, "
                        "own stall %lld ms\n",
                static_cast<long long>(now), static_cast<long long>(stalls.longest),
                static_cast<long long>(stalls.longestOwn));
            QApplication::quit();
        }
    });
    clock.start();
    stalls.lastWait = runQueueMilliseconds();
    ticker.start(1);
    window.tabRoutine(1);
    const int status = QApplication::exec();
    std::filesystem::remove_all(home);
    return status;
}
