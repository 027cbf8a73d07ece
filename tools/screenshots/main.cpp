// Takes the README's screenshots of the program's windows: kavo_screenshots OUT_DIR. Run it under Xvfb
// (`make screenshots`); it starts the loopback demo service itself.
#include "appearance/notifier.h"
#include "appearance/ui/backgroundchooser.h"
#include "appearance/ui/messagewindow.h"
#include "appearance/ui/picturepicker.h"
#include "catalog/catalogmodel.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "download/fetch.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/queue.h"
#include "downloads/ui/downloadswindow.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "platform/desktop.h"
#include "platform/sound.h"
#include "settings/settings.h"
#include "silentservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

bool save(QWidget *widget, const QString &file)
{
    const bool saved = widget->grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.toLocal8Bit().constData());
    return saved;
}

void waitFor(const std::function<bool()> &condition, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs && !condition())
        QTest::qWait(50);
}

// The main window with the sample catalog, the demo manifest and a search, on the home page and on a
// category page; the message window and the background chooser beside it.
bool mainWindowShots(const QString &out, const std::string &port, SilentSound &sound, NoNotices &notices)
{
    const std::filesystem::path home = std::filesystem::temp_directory_path() / "kavo-screenshots-main";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    std::filesystem::copy(std::filesystem::path(KAVO_BINARY_DIR) / "自动更新", home / "自动更新");
    std::filesystem::copy_file(std::filesystem::path(KAVO_BINARY_DIR) / "图片.jpg", home / "图片.jpg");
    const settings::Settings settings(home);
    settings.write(settings::keys::SearchText, common::gbk("播放器"));
    qputenv("KAVO_MANIFEST_URL", QByteArray::fromStdString("http://127.0.0.1:" + port + "/manifest.html"));
    NoFolderPicker folders;
    NoPictures pictures;
    NoDesktop desktop;
    mainwindow::MainWindow window({settings, home, sound, desktop, notices, folders, pictures,
        [](const std::string &url) { return download::FetchUrl(url); }, std::make_shared<feedback::MailSender>(),
        common::networkPool(), nullptr, nullptr});
    window.startUp();
    waitFor([&] { return window.form().models[5]->rowCount() > 0 && window.form().board->y() == 24; }, 15000);
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("软件自动更新"))
            widget->close();
    }
    bool ok = save(&window, out + QStringLiteral("/main-home.png"));
    window.tabRoutine(1);
    waitFor([&] { return window.form().models[0]->rowCount() > 0; }, 5000);
    QTest::qWait(300);
    ok &= save(&window, out + QStringLiteral("/main-category.png"));
    appearance::MessageWindow message(QStringLiteral("复制成功!"), &settings);
    message.show();
    QTest::qWait(100);
    ok &= save(&message, out + QStringLiteral("/message.png"));
    auto *chooser = new appearance::BackgroundChooser(
        settings, [](const QByteArray &) {}, QPoint(400, 100));
    chooser->show();
    QTest::qWait(100);
    ok &= save(chooser, out + QStringLiteral("/chooser.png"));
    chooser->close();
    window.close();
    std::filesystem::remove_all(home);
    return ok;
}

struct KeepFiles final : downloads::RemovePrompter
{
    downloads::RemoveChoice askRemove(QWidget *, const QString &) override { return downloads::RemoveChoice::Cancel; }
};

// The downloads list with two downloads running, one waiting, one paused and one that failed.
bool downloadsListShot(const QString &out, const std::string &port, const settings::Settings &settings,
    downloads::Queue &queue, const std::filesystem::path &folder)
{
    const auto share = [&port](int id) {
        return "http://127.0.0.1:" + port + "/share/link?shareid=" + std::to_string(id) + "&uk=3500001";
    };
    queue.setOptions({2, 0, {download::ProxySetting::Mode::System, {}}});
    const std::uint64_t paused = queue.add(share(110003), folder);
    queue.pause(paused);
    queue.add(share(999999), folder);
    queue.add(share(110004), folder);
    queue.add(share(110005), folder);
    NoDesktop desktop;
    KeepFiles prompter;
    auto *list = new downloads::DownloadsWindow({queue, settings, desktop, prompter});
    list->show();
    waitFor(
        [&] {
            const auto items = queue.items();
            return std::count_if(items.begin(), items.end(), [](const downloads::Item &item) {
                return item.received > 0;
            }) >= 3;
        },
        20000);
    QTest::qWait(1200);
    const bool saved = save(list, out + QStringLiteral("/downloads-list.png"));
    list->close();
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
            QStringLiteral("--tree"), QStringLiteral(KAVO_PUBLISHED_DIR), QStringLiteral("--rate"),
            QStringLiteral("200000")});
    if (!demo.waitForReadyRead(10000))
        return 1;
    const std::string port = demo.readLine().trimmed().toStdString();

    const std::filesystem::path home = std::filesystem::temp_directory_path() / "kavo-screenshots";
    std::filesystem::create_directories(home / "downloads");
    const settings::Settings settings(home);
    settings.write(settings::keys::SaveFolder, (home / "downloads").string());
    SilentSound sound;
    NoNotices notices;
    NoFolderPicker picker;
    const auto fetch = [](const std::string &url) { return download::FetchUrl(url); };
    downloads::Queue queue(
        home / "下载列表", [fetch](const std::string &address) { return download::resolveShare(address, fetch); }, {});
    auto *tool = new download::NetdiskWindow({settings, queue, notices, sound, picker, fetch, common::networkPool()},
        "http://127.0.0.1:" + port + "/share/link?shareid=110001&uk=3500001");
    tool->show();
    tool->findChild<QPushButton *>(QStringLiteral("按钮_下载"))->click();
    auto *progress = tool->findChild<QLabel *>(QStringLiteral("透明标签进度"));
    QElapsedTimer clock;
    clock.start();
    // Somewhere in the middle of the download.
    while (clock.elapsed() < 20000 && progress->text().section(QLatin1Char('%'), 0, 0).toInt() < 35)
        QTest::qWait(50);
    bool saved = save(tool, out + QStringLiteral("/netdisk-download.png"));
    tool->close();
    saved &= downloadsListShot(out, port, settings, queue, home / "downloads");
    const bool mainSaved = mainWindowShots(out, port, sound, notices);
    demo.kill();
    demo.waitForFinished();
    std::error_code ignored; // the list's tasks may still be ending
    std::filesystem::remove_all(home, ignored);
    return saved && mainSaved ? 0 : 1;
}
