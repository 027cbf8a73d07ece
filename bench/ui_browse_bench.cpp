// Browsing a 1,000,000-record category in the main window (offscreen): how long the load takes and how much
// memory its rows hold, how long a header click's sort takes, and the longest time the event loop goes without
// running a 1 ms timer while a user types into the search box, with searches that find many rows starting and
// being cancelled. Usage: ui_browse_bench [RECORDS]
#include "catalog/catalogmodel.h"
#include "catalog/sortorder.h"
#include "catalog/ui/catalogviews.h"
#include "common/networkpool.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "silentservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

double residentMegabytes()
{
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// CPU time of the calling thread: what a sort costs, without the time other processes of a busy machine take.
double threadCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs the event loop until `done` holds.
template <typename Done> void waitFor(Done done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// One keystroke as the window system delivers it, `pauseMs` after the previous one.
struct Key
{
    int key;
    QString text;
    int pauseMs;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::filesystem::path home = std::filesystem::temp_directory_path() / "kavo-browse-bench";
    std::filesystem::create_directories(home / "自动更新");
    const std::filesystem::path list = home / "自动更新" / "软件下载.txt";
    if (QProcess::execute(QStringLiteral("python3"),
            {QStringLiteral(KAVO_SOURCE_DIR "/bench/gen_catalog.py"), QString::fromStdString(list.string()),
                QString::number(records)})
        != 0)
        return 1;
    const double fileMegabytes = static_cast<double>(std::filesystem::file_size(list)) / 1e6;

    const settings::Settings settings(home);
    SilentSound sound;
    NoDesktop desktop;
    NoNotices notices;
    NoFolderPicker picker;
    NoPictures picturePicker;
    mainwindow::MainWindow window({settings, home, sound, desktop, notices, picker, picturePicker,
        [](const std::string &) { return std::string(); }, std::make_shared<feedback::MailSender>(),
        common::networkPool(), nullptr, nullptr});
    window.show();
    QCoreApplication::processEvents();

    const double before = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    window.tabRoutine(1);
    const catalog::CatalogModel *rows = window.form().models[0];
    waitFor([&] { return rows->rowCount() == records; });
    const qint64 loadMs = clock.elapsed();
    const double after = residentMegabytes();
    std::printf("%d rows (%.0f MB list) in the view after %lld ms; resident %.0f MB before, %.0f MB after: "
                "%.2f x the list\n",
        records, fileMegabytes, static_cast<long long>(loadMs), before, after, (after - before) / fileMegabytes);

    QHeaderView *header = window.form().lists[0]->header();
    const struct
    {
        const char *name;
        int column;
    } clicks[] = {{"size", 1}, {"size reversed", 1}, {"share time", 2}, {"share time reversed", 2}, {"name", 0}};
    {
        clock.restart();
        const double cpu = threadCpuMs();
        const auto order = catalog::sortedRows(
            static_cast<std::size_t>(rows->rowCount()),
            [rows](std::size_t row) { return rows->cell(static_cast<int>(row), 1); }, catalog::SortKey::Size, false);
        std::printf("the order by size alone: %lld ms (%.0f ms CPU)\n", static_cast<long long>(clock.elapsed()),
            threadCpuMs() - cpu);
    }
    for (const auto &click : clicks) {
        clock.restart();
        const double cpu = threadCpuMs();
        emit header->sectionClicked(click.column);
        QCoreApplication::processEvents(); // the view lays its rows out again
        std::printf("sort by %s: %lld ms (%.0f ms CPU)\n", click.name, static_cast<long long>(clock.elapsed()),
            threadCpuMs() - cpu);
    }

    // Typing: a word that many names hold, more letters, all of it taken back, then a digit that nearly every
    // name holds and a keystroke that cancels that search while its rows arrive.
    QLineEdit *box = window.form().searchBox;
    box->setFocus();
    box->clear();
    const auto letter = [](char c, int pauseMs) { return Key{0, QString(QLatin1Char(c)), pauseMs}; };
    std::vector<Key> keys{
        letter('F', 120), letter('i', 90), letter('r', 110), letter('e', 700), letter('N', 80), letter('o', 600)};
    for (int i = 0; i < 6; ++i)
        keys.push_back({Qt::Key_Backspace, {}, 70});
    keys.push_back(letter('1', 1500));
    keys.push_back(letter('2', 1500));
    keys.push_back(letter('3', 1500));

    qint64 last = 0;
    qint64 worstGap = 0;
    std::size_t next = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstGap = std::max(worstGap, now - last);
        if (now - last > 50 && qEnvironmentVariableIsSet("KAVO_BENCH_STALLS"))
            std::printf("  stall of %lld ms after key %zu\n", static_cast<long long>(now - last), next);
        last = now;
    });
    bool typed = false;
    QTimer typist;
    typist.setSingleShot(true);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        const Key &k = keys[next++];
        const int code = k.key != 0 ? k.key : k.text.at(0).toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, k.text);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, k.text);
        QApplication::sendEvent(box, &press);
        QApplication::sendEvent(box, &release);
        if (next < keys.size())
            typist.start(k.pauseMs);
        else
            QTimer::singleShot(k.pauseMs, [&] { typed = true; });
    });
    clock.restart();
    ticker.start(1);
    typist.start(0);
    waitFor([&] { return typed; });
    std::printf("typing %zu keys into the search box (\"%s\" at the end, %d rows shown): longest event-loop stall "
                "%lld ms\n",
        keys.size(), box->text().toUtf8().constData(), window.form().models[5]->rowCount(),
        static_cast<long long>(worstGap));
    std::filesystem::remove_all(home);
    return 0;
}
