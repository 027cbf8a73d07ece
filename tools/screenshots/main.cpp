// Takes the README's screenshots of the program's windows: kavo_screenshots OUT_DIR. Run it under Xvfb
// (`make screenshots`); it starts the loopback demo service itself.
#include "appearance/notifier.h"
#include "download/download.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "platform/sound.h"
#include "settings/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>

namespace {

struct Silent final : platform::Sound
{
    void play(std::string, bool) override { }
    void stopLoops() override { }
};

struct Quiet final : appearance::Notifier
{
    void showMessage(const std::string &, bool) override { }
};

struct NoPicker final : download::FolderPicker
{
    QString pickFolder(QWidget *, const QString &) override { return {}; }
};

bool save(QWidget *widget, const QString &file)
{
    const bool saved = widget->grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.toLocal8Bit().constData());
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QProcess demo;
    demo.start(QStringLiteral("python3"),
        {QStringLiteral(KAVO_SOURCE_DIR "/tools/demo_service.py"), QStringLiteral("--port"), QStringLiteral("0"),
            QStringLiteral("--rate"), QStringLiteral("200000")});
    if (!demo.waitForReadyRead(10000))
        return 1;
    const std::string port = demo.readLine().trimmed().toStdString();

    const std::filesystem::path home = std::filesystem::temp_directory_path() / "kavo-screenshots";
    std::filesystem::create_directories(home / "downloads");
    const settings::Settings settings(home);
    settings.write(settings::keys::SaveFolder, (home / "downloads").string());
    download::Download downloader;
    Silent sound;
    Quiet notices;
    NoPicker picker;
    auto *tool = new download::NetdiskWindow(
        {settings, downloader, notices, sound, picker, [](const std::string &url) { return download::FetchUrl(url); }},
        "http://127.0.0.1:" + port + "/share/link?shareid=110001&uk=3500001");
    tool->show();
    tool->findChild<QPushButton *>(QStringLiteral("按钮_下载"))->click();
    auto *progress = tool->findChild<QLabel *>(QStringLiteral("透明标签进度"));
    QElapsedTimer clock;
    clock.start();
    // Somewhere in the middle of the download.
    while (clock.elapsed() < 20000 && progress->text().section(QLatin1Char('%'), 0, 0).toInt() < 35)
        QTest::qWait(50);
    const bool saved = save(tool, out + QStringLiteral("/netdisk-download.png"));
    downloader.Stop();
    tool->close();
    demo.kill();
    demo.waitForFinished();
    std::filesystem::remove_all(home);
    return saved ? 0 : 1;
}
