#include "mainwindow/mainwindow.h"

#include "appearance/backgrounds.h"
#include "appearance/marquee.h"
#include "appearance/startuplook.h"
#include "appearance/ui/animatedboard.h"
#include "appearance/ui/backgroundchooser.h"
#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/picturepicker.h"
#include "appearance/ui/windowframe.h"
#include "catalog/category.h"
#include "catalog/loader.h"
#include "catalog/ui/catalogviews.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "common/relay.h"
#include "download/ui/netdiskwindow.h"
#include "downloads/options.h"
#include "downloads/ui/completionnotice.h"
#include "downloads/ui/downloadswindow.h"
#include "feedback/ui/feedbackpage.h"
#include "mainwindow/desktopintegration.h"
#include "platform/desktop.h"
#include "platform/hotkeys.h"
#include "platform/paths.h"
#include "platform/singleinstance.h"
#include "platform/sound.h"
#include "settings/settings.h"
#include "update/channel.h"
#include "update/manifest.h"
#include "update/newrecords.h"
#include "update/refresh.h"
#include "update/ui/listrefresh.h"
#include "update/ui/updatewindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdio>

namespace mainwindow {

namespace {

constexpr int VirtualKeyF5 = 0x74;

// The start's read of the manifest page: the program's channel, or the page as the fetch gives it.
std::function<update::ManifestRead()> manifestReader(const Services &services)
{
    if (services.readManifest)
        return services.readManifest;
    return [fetch = services.fetch] {
        update::ManifestRead read;
        read.page = fetch(update::manifestUrl());
        read.noticePage = read.page;
        read.requests = 1;
        return read;
    };
}

constexpr int VirtualKeyHome = 0x24;
constexpr int FadeStepMs = 2;
constexpr int AdvertStepMs = 200;
const char *const HomePageUrl = KAVO_HOME_PAGE_URL;

// A picture the user picked, read through the name the setting keeps (GBK), so that what shows now is what
// the next start shows.
QByteArray pickedFileBytes(const std::string &gbkPath)
{
    return QByteArray::fromStdString(appearance::readChosenFile(platform::nativePath(gbkPath)));
}

} // namespace

MainWindow::MainWindow(Services services, QWidget *parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_manifest(std::make_shared<update::ManifestOnce>(manifestReader(m_services)))
    , m_form(this)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("KAVO 软件一键下载 " KAVO_VERSION));
    resize(MainWindowForm::Width, MainWindowForm::Height);
    move(50, 50);
    m_catalog = new catalog::CatalogViews(
        {m_form.lists, m_form.models, m_form.itemMenu, m_form.searchBox, m_form.searchButton, m_form.nameField,
            m_form.rememberName, m_form.rememberNameCaption},
        m_services.settings, m_services.desktop, m_services.notifier, m_services.paths.lists, this);
    connect(m_catalog, &catalog::CatalogViews::netdiskToolRequested, this, &MainWindow::openNetdiskTool);
    new feedback::FeedbackPage({m_form.nameField, m_form.feedbackMessage, m_form.submitButton}, m_services.mailSender,
        m_services.networkPool, m_services.notifier, this);
    wireVersionFields();
    m_frame = new appearance::WindowFrame(this,
        {appearance::ButtonKind::Close, appearance::ButtonKind::Maximise, appearance::ButtonKind::Minimise,
            appearance::ButtonKind::ChangeSkin});
    m_frame->setClickRoutine(appearance::ButtonKind::Menu, [this] { openBackgroundChooser(); });
    m_frame->setClickRoutine(appearance::ButtonKind::ChangeSkin, [this] { openBackgroundChooser(); });
    m_frame->setClickRoutine(appearance::ButtonKind::Minimise, [this] { hideToTray(); });
    // The window may grow, never shrink below its layout: smaller, the pages would be cut.
    setMinimumSize(MainWindowForm::Width, MainWindowForm::Height);
    m_board = new appearance::AnimatedBoard(m_form.board, this);
    addTabButtons();
    m_frame->setCurrentTab(m_form.pages->currentIndex());
    connect(m_form.pages, &QTabWidget::currentChanged, m_frame, &appearance::WindowFrame::setCurrentTab);
    wireOtherMenu();
    const auto toolTip = [this] { return appearance::trayToolTip(m_form.playMusicAction->isChecked()); };
    m_desktop = new DesktopIntegration(*this, {m_form.trayMenu, m_services.trayAvailable, toolTip});
    wireTrayMenu();
    createQueue();
}

void MainWindow::createQueue()
{
    downloads::Resolver resolve = m_services.resolveShare;
    if (!resolve)
        resolve
            = [fetch = m_services.fetch](const std::string &address) { return download::resolveShare(address, fetch); };
    m_queue = std::make_unique<downloads::Queue>(downloads::storeFile(m_services.paths.data), std::move(resolve),
        downloads::readQueueOptions(m_services.settings));
    m_removePrompter = downloads::createRemovePrompter();
    // The notice rides on the tray icon, which comes up for it when the window hid it.
    m_completion = new downloads::CompletionNotice(
        [this](const QString &title, const QString &text) {
            QSystemTrayIcon *tray = trayIcon();
            if (!tray)
                return;
            tray->show();
            tray->showMessage(title, text, QSystemTrayIcon::Information);
        },
        m_services.desktop, this);
    const common::Relay<MainWindow> relay(this);
    m_queue->setEndedHandler([relay](const downloads::Item &item) {
        relay.post([item](MainWindow &w) { w.m_completion->downloadEnded(item); });
    });
}

// What was running or waiting when the program last ended continues; only the instance that runs does this.
void MainWindow::startDownloads()
{
    if (QSystemTrayIcon *tray = trayIcon())
        connect(tray, &QSystemTrayIcon::messageClicked, m_completion, &downloads::CompletionNotice::clicked);
    m_queue->restore();
    if (const std::string problem = m_queue->storeProblem(); !problem.empty())
        std::fprintf(stderr, "kavo: %s\n", common::utf8FromGbk(problem).c_str());
}

void MainWindow::openDownloadsList()
{
    if (!m_downloadsWindow)
        m_downloadsWindow = new downloads::DownloadsWindow(
            {*m_queue, m_services.settings, m_services.desktop, *m_removePrompter}, this);
    m_downloadsWindow->show();
    m_downloadsWindow->raise();
    m_downloadsWindow->activateWindow();
}

void MainWindow::openNetdiskTool()
{
    download::NetdiskServices services{m_services.settings, *m_queue, m_services.notifier, m_services.sound,
        m_services.picker, m_services.fetch, m_services.networkPool,
        [lists = m_services.paths.lists](
            const std::string &address) { return catalog::recordChecksum(lists, address); }};
    auto *tool = new download::NetdiskWindow(services, m_catalog->pendingDownloadAddress(), this);
    connect(tool, &download::NetdiskWindow::downloadsListRequested, this, &MainWindow::openDownloadsList);
    tool->show();
}

MainWindow::~MainWindow() = default;

QSystemTrayIcon *MainWindow::trayIcon() const
{
    return m_desktop->trayIcon();
}

bool MainWindow::startUp()
{
    registerHotKeys();
    if (m_services.instance) {
        if (!m_services.instance->claim()) {
            close();
            return false;
        }
        connect(
            m_services.instance, &platform::SingleInstance::activationRequested, this, &MainWindow::restoreMainWindow);
    }
    showNotice();
    startAnnouncementFill();
    applyMusicAndTray();
    startDownloads();
    applyFrameAndBackground();
    m_form.rememberName->setChecked(m_services.settings.isYes(settings::keys::RememberName));
    fadeIn(0);
    return true;
}

void MainWindow::selectPage(int index)
{
    m_form.pages->setCurrentIndex(index);
}

void MainWindow::tabRoutine(int k)
{
    if (k >= 1 && k <= 5)
        m_catalog->loadCategory(k);
    selectPage(k);
}

void MainWindow::restoreMainWindow()
{
    m_desktop->restore();
}

void MainWindow::hideToTray()
{
    m_desktop->hideToTray();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_form.layOut(event->size());
    if (!mask().isEmpty())
        roundCorners();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Nothing is saved here: every setting was written when it changed.
    m_closing = true;
    if (m_services.instance)
        m_services.instance->release();
    if (m_services.hotKeys)
        m_services.hotKeys->unregisterAll();
    m_services.sound.stopAll();
    if (m_advertTimer)
        m_advertTimer->stop();
    if (m_fadeTimer)
        m_fadeTimer->stop();
    m_board->stop();
    m_desktop->removeTrayIcon();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::addTabButtons()
{
    static constexpr std::array<const char *, MainWindowForm::PageCount> Pictures{
        "home", "software", "source", "module", "tips", "common", "feedback"};
    for (int k = 0; k < MainWindowForm::PageCount; ++k) {
        const QPixmap picture(QStringLiteral(":/kavo/pictures/tab-%1.png")
                                  .arg(QString::fromLatin1(Pictures[static_cast<std::size_t>(k)])));
        m_frame->addTabButton(MainWindowForm::tabCaption(k), picture, [this, k] { tabRoutine(k); });
    }
}

void MainWindow::wireOtherMenu()
{
    m_form.board->installEventFilter(this);
    const auto action
        = [this](const char *name) { return m_form.otherMenu->findChild<QAction *>(QString::fromUtf8(name)); };
    connect(action("更换皮肤"), &QAction::triggered, this, &MainWindow::changeBackgroundFile);
    connect(action("更换图片"), &QAction::triggered, this, &MainWindow::changeBoardPicture);
    connect(m_form.playMusicAction, &QAction::triggered, this, &MainWindow::toggleMusic);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form.board && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        m_form.otherMenu->popup(QCursor::pos());
    return QWidget::eventFilter(watched, event);
}

void MainWindow::changeBackgroundFile()
{
    const QString chosen = m_services.picturePicker.pickPicture(this);
    if (m_closing)
        return;
    if (chosen.isEmpty()) {
        m_frame->setBackgroundPicture(appearance::defaultBackground());
        m_services.settings.write(settings::keys::BackgroundFile, "");
        return;
    }
    const std::string stored = common::fromQString(chosen);
    m_frame->setBackgroundPicture(pickedFileBytes(stored));
    m_services.settings.write(settings::keys::BackgroundFile, stored);
}

void MainWindow::changeBoardPicture()
{
    m_board->stop();
    m_form.board->clear();
    const QString chosen = m_services.picturePicker.pickPicture(this);
    if (m_closing)
        return;
    QPixmap picture;
    if (chosen.isEmpty()) {
        picture.loadFromData(appearance::fallbackBoardPicture());
        m_services.settings.write(settings::keys::AnimatedPicture,
            platform::gbkPath(m_services.paths.data / platform::nativePath(common::gbk("图片.jpg"))));
    } else {
        const std::string stored = common::fromQString(chosen);
        picture.loadFromData(pickedFileBytes(stored));
        m_services.settings.write(settings::keys::AnimatedPicture, stored);
    }
    m_form.board->setPixmap(picture);
    m_board->restart();
}

void MainWindow::toggleMusic(bool on)
{
    // A missing or unplayable file plays nothing; the tick and the setting change all the same.
    if (on) {
        const std::string wav = appearance::readChosenFile(m_services.paths.data / "windows.wav");
        if (!wav.empty())
            m_services.sound.play(wav, true);
    } else {
        m_services.sound.stopAll();
    }
    m_services.settings.writeFlag(settings::keys::PlayMusic, on);
}

void MainWindow::openBackgroundChooser()
{
    auto *chooser = new appearance::BackgroundChooser(
        m_services.settings, [this](const QByteArray &bytes) { m_frame->setBackgroundPicture(bytes); }, QCursor::pos(),
        this);
    chooser->show();
    chooser->activateWindow();
}

void MainWindow::wireTrayMenu()
{
    const auto action
        = [this](const char *name) { return m_form.trayMenu->findChild<QAction *>(QString::fromUtf8(name)); };
    connect(action("打开KAVO软件首页"), &QAction::triggered, this, &MainWindow::restoreMainWindow);
    connect(action("意见反馈"), &QAction::triggered, this, [this] {
        restoreMainWindow();
        selectPage(6);
    });
    connect(action("官方网站"), &QAction::triggered, this,
        [this] { m_services.desktop.openAddress(common::gbk(HomePageUrl)); });
    connect(action("最小化"), &QAction::triggered, this, &MainWindow::hideToTray);
    connect(action("退出"), &QAction::triggered, this, &QWidget::close);
    connect(action("下载列表"), &QAction::triggered, this, &MainWindow::openDownloadsList);
}

void MainWindow::registerHotKeys()
{
    if (!m_services.hotKeys)
        return;
    m_f5Key = m_services.hotKeys->registerKey(VirtualKeyF5);
    m_homeKey = m_services.hotKeys->registerKey(VirtualKeyHome);
    connect(m_services.hotKeys, &platform::HotKeys::pressed, this, &MainWindow::onHotKey);
}

void MainWindow::onHotKey(int identifier)
{
    if (identifier == 0)
        return;
    if (identifier == m_f5Key) {
        m_catalog->refreshActiveList();
    } else if (identifier == m_homeKey) {
        m_desktop->toggle();
    }
}

void MainWindow::applyMusicAndTray()
{
    const bool musicOn = m_services.settings.isYes(settings::keys::PlayMusic);
    if (musicOn) {
        m_form.playMusicAction->setChecked(true);
        const std::string wav = appearance::readChosenFile(m_services.paths.data / "windows.wav");
        if (!wav.empty())
            m_services.sound.play(wav, true);
    }
    m_desktop->showTrayIcon();
}

void MainWindow::fadeIn(std::size_t step)
{
    static const std::vector<int> alphas = appearance::fadeInAlphas();
    if (step >= alphas.size()) {
        finishStartUp();
        return;
    }
    setWindowOpacity(alphas[step] / 255.0);
    // Hidden to the tray during the fade-in, it stays there.
    if (!m_desktop->inTray())
        show();
    if (!m_fadeTimer) {
        m_fadeTimer = new QTimer(this);
        m_fadeTimer->setSingleShot(true);
        m_fadeTimer->setInterval(FadeStepMs);
    }
    m_fadeTimer->disconnect();
    connect(m_fadeTimer, &QTimer::timeout, this, [this, step] { fadeIn(step + 1); });
    m_fadeTimer->start();
}

void MainWindow::finishStartUp()
{
    startAnimation();
    startVersionCheck();
    loadAnimatedPicture();
    emit startupFinished();
}

void MainWindow::loadAnimatedPicture()
{
    QPixmap picture;
    const std::string bytes = appearance::readChosenFile(m_services.settings.animatedPicture());
    picture.loadFromData(reinterpret_cast<const uchar *>(bytes.data()), static_cast<uint>(bytes.size()));
    m_form.board->setPixmap(picture);
}

void MainWindow::startAdvertScrolling()
{
    if (m_advertTimer) {
        m_advertTimer->stop();
        m_advertTimer->deleteLater();
        m_advertTimer = nullptr;
    }
    const auto characters = std::make_shared<std::vector<std::string>>(
        appearance::marqueeCharacters(common::fromQString(m_form.advertisement->text())));
    if (characters->empty())
        return;
    m_advertTimer = new QTimer(this);
    connect(m_advertTimer, &QTimer::timeout, this, [this, characters, k = std::size_t{0}]() mutable {
        k = k % characters->size() + 1;
        m_form.advertisement->setText(common::toQString(appearance::marqueeFrame(*characters, k)));
    });
    m_advertTimer->start(AdvertStepMs);
}

void MainWindow::startAnnouncementFill()
{
    // Off the UI thread: the start's one read of the manifest page, which the version check shares. The settings
    // are read on the UI thread, at their turn: the task holds nothing that may go before it does.
    const common::Relay<MainWindow> relay(this);
    (void)QtConcurrent::run(&m_services.networkPool, [relay, manifest = m_manifest] {
        const std::string &page = manifest->get().noticePage;
        const std::string ad = update::pageField(page, update::advertisementLabel());
        relay.post([ad](MainWindow &w) {
            w.setAdvertisement(ad);
            w.m_form.nameField->setText(common::toQString(w.m_services.settings.read(settings::keys::UserName)));
        });
        const std::string notice = update::pageField(page, update::noticeLabel());
        relay.post([notice](MainWindow &w) {
            w.m_notice = notice;
            w.showNotice();
            w.restoreSearch(w.m_services.settings.read(settings::keys::SearchText));
        });
    });
}

void MainWindow::showNotice()
{
    std::vector<std::size_t> counts;
    for (const catalog::Category &category : catalog::categories())
        counts.push_back(update::newRecordCount(catalog::categoryFile(m_services.paths.lists, category)));
    const std::string fresh = update::describeNewRecordCounts(counts);
    m_form.notice->setPlainText(common::toQString(
        common::gbk("公告：\r\n\r\n") + m_notice + (fresh.empty() ? "" : common::gbk("\r\n\r\n") + fresh)));
}

void MainWindow::setAdvertisement(const std::string &gbkText)
{
    m_form.advertisement->setText(common::toQString(gbkText));
    // The line starts moving once it has its text.
    startAdvertScrolling();
}

void MainWindow::restoreSearch(const std::string &gbkText)
{
    if (gbkText != common::gbk("请输入要查找的名称")) {
        QPalette palette = m_form.searchBox->palette();
        palette.setColor(QPalette::Text, Qt::black);
        m_form.searchBox->setPalette(palette);
        m_form.searchBox->setText(common::toQString(gbkText));
        m_catalog->startSearch();
    }
    emit announcementFilled();
}

void MainWindow::applyFrameAndBackground()
{
    roundCorners();
    appearance::applyBackground(*m_frame, m_services.settings);
}

void MainWindow::roundCorners()
{
    // Corner ellipses of 5 x 5 pixels; they follow the window when it is resized.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), 5, 5);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

void MainWindow::startAnimation()
{
    m_board->restart();
}

QLineEdit *MainWindow::versionField(int category) const
{
    return m_form.versionFields[static_cast<std::size_t>(category - 1)];
}

void MainWindow::wireVersionFields()
{
    for (int category = 1; category <= catalog::CategoryCount; ++category) {
        connect(versionField(category), &QLineEdit::textChanged, this, [this, category](const QString &text) {
            m_services.settings.write(update::versionSetting(category), common::fromQString(text));
        });
    }
}

void MainWindow::loadVersions()
{
    for (int category = 1; category <= catalog::CategoryCount; ++category)
        versionField(category)->setText(common::toQString(m_services.settings.read(update::versionSetting(category))));
}

void MainWindow::startVersionCheck()
{
    loadVersions();
    std::array<std::string, catalog::CategoryCount> local;
    for (int category = 1; category <= catalog::CategoryCount; ++category)
        local[static_cast<std::size_t>(category - 1)] = common::fromQString(versionField(category)->text());
    const common::Relay<MainWindow> relay(this);
    (void)QtConcurrent::run(&m_services.networkPool, [relay, manifest = m_manifest, local] {
        const update::ManifestRead &read = manifest->get();
        if (!read.refusal.empty())
            std::fprintf(stderr, "kavo: %s\n", common::utf8FromGbk(read.refusal).c_str());
        const auto offer
            = update::checkVersions([&read](const std::string &label) { return update::pageField(read.page, label); },
                [&](int category) { return local[static_cast<std::size_t>(category - 1)]; });
        relay.post([offer, page = read.page](MainWindow &w) {
            if (offer)
                w.offerUpdate(*offer, page);
            else
                emit w.versionChecked(false);
        });
    });
}

void MainWindow::offerUpdate(const update::UpdateOffer &offer, const std::string &page)
{
    update::RefreshContext context{m_services.notifier, m_services.fetch, m_services.networkPool, page,
        m_services.paths.lists, [this](int category, const std::string &version) {
            versionField(category)->setText(common::toQString(version));
        }};
    context.proxy = downloads::settingsProxy(m_services.settings);
    auto *refresh = new update::ListRefresh(std::move(context), offer, this);
    auto *window = new update::UpdateWindow(*refresh, m_services.settings, this);
    connect(refresh, &update::ListRefresh::finished, refresh, &QObject::deleteLater);
    connect(refresh, &update::ListRefresh::finished, this, &MainWindow::showNotice);
    // Declined before it started: nothing more will come of this refresh.
    connect(window, &QObject::destroyed, refresh, [refresh] {
        if (!refresh->started())
            refresh->deleteLater();
    });
    // The check ends when the user has closed the window, which keeps the main window until then.
    connect(window, &QDialog::finished, this, [this] { emit versionChecked(true); });
    window->open();
}

} // namespace mainwindow
