#include "download/ui/netdiskwindow.h"

#include "appearance/notifier.h"
#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "download/downloaderror.h"
#include "downloads/queue.h"
#include "platform/paths.h"
#include "platform/sound.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace download {

namespace {

// The user's download folder stands in for the program's Windows default.
QString defaultFolder()
{
    return common::toQString(platform::gbkPath(platform::userFolder(platform::UserFolder::Downloads)));
}

std::string unsupportedMessage()
{
    return common::gbk("抱歉，当前下载器暂不支持其他网盘的下载地址!");
}

std::string failureMessage(const std::string &reason)
{
    return common::gbk("下载失败：") + reason + "!";
}

class DialogFolderPicker final : public FolderPicker
{
public:
    QString pickFolder(QWidget *parent, const QString &prompt, const QString &start) override
    {
        return QFileDialog::getExistingDirectory(parent, prompt, start);
    }
};

template <typename W> W *named(W *widget, const char *utf8Name)
{
    widget->setObjectName(QString::fromUtf8(utf8Name));
    return widget;
}

} // namespace

std::unique_ptr<FolderPicker> createFolderPicker()
{
    return std::make_unique<DialogFolderPicker>();
}

NetdiskWindow::NetdiskWindow(NetdiskServices services, const std::string &gbkAddress, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_services(std::move(services))
{
    setObjectName(QStringLiteral("百度网盘软件下载"));
    setWindowTitle(QStringLiteral("百度网盘软件下载"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Width, Height);
    move(50, 50);
    buildControls();
    m_address->setText(common::toQString(gbkAddress));
    m_path->setText(common::toQString(platform::usableFolder(
        m_services.settings.read(settings::keys::SaveFolder), platform::userFolder(platform::UserFolder::Downloads))));
    m_autoClose->setChecked(m_services.settings.isYes(settings::keys::AutoCloseTool));
    wireControls();
}

NetdiskWindow::~NetdiskWindow() = default;

void NetdiskWindow::buildControls()
{
    m_addressCaption = named(new QLabel(QStringLiteral("下载地址："), this), "透明标签2");
    m_addressCaption->setGeometry(10, 34, 66, 24);
    m_address = named(new QLineEdit(this), "编辑框_地址");
    m_address->setGeometry(78, 34, 276, 24);
    auto *pathCaption = new QLabel(QStringLiteral("保存位置："), this);
    pathCaption->setGeometry(10, 62, 66, 24);
    m_path = named(new QLineEdit(this), "编辑框_路径");
    m_path->setGeometry(78, 62, 206, 24);
    m_browse = named(new QPushButton(QStringLiteral("浏览"), this), "按钮_浏览");
    m_browse->setGeometry(288, 62, 66, 24);
    m_progressBar = named(new QProgressBar(this), "进度条1");
    m_progressBar->setGeometry(10, 92, 240, 16);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressLabel = named(new QLabel(QStringLiteral("0%"), this), "透明标签进度");
    m_progressLabel->setGeometry(256, 89, 104, 22);
    m_autoClose = named(new QCheckBox(this), "选择框2");
    m_autoClose->setGeometry(10, 117, 16, 16);
    m_autoCloseCaption = named(new QLabel(QStringLiteral("下载完成后自动关闭"), this), "透明标签1");
    m_autoCloseCaption->setGeometry(30, 114, 140, 22);
    m_download = named(new QPushButton(QStringLiteral("立即下载"), this), "按钮_下载");
    m_download->setGeometry(254, 112, 100, 24);
    m_list = named(new QPushButton(QStringLiteral("下载列表"), this), "按钮_下载列表");
    m_list->setGeometry(176, 112, 74, 24);
    m_timer = named(new QTimer(this), "时钟1");
    m_timer->setInterval(200);
    m_frame = new appearance::WindowFrame(this, {appearance::ButtonKind::Close});
    appearance::applyBackground(*m_frame, m_services.settings);
}

void NetdiskWindow::wireControls()
{
    connect(m_browse, &QPushButton::clicked, this, &NetdiskWindow::browse);
    connect(m_download, &QPushButton::clicked, this, &NetdiskWindow::startResolution);
    connect(m_list, &QPushButton::clicked, this, &NetdiskWindow::downloadsListRequested);
    connect(m_timer, &QTimer::timeout, this, &NetdiskWindow::showProgress);
    // A typed folder is kept once the typing ends (Return, leaving the box, closing the window), not at every
    // key: a half-typed path is no choice of the user's.
    connect(m_path, &QLineEdit::editingFinished, this, &NetdiskWindow::keepTypedFolder);
    // The box flips once per click and the setting follows it.
    connect(m_autoClose, &QCheckBox::clicked, this,
        [this](bool ticked) { m_services.settings.writeFlag(settings::keys::AutoCloseTool, ticked); });
    m_autoCloseCaption->installEventFilter(this);
}

bool NetdiskWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_autoCloseCaption && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        toggleAutoClose();
    return QWidget::eventFilter(watched, event);
}

void NetdiskWindow::closeEvent(QCloseEvent *event)
{
    keepTypedFolder();
    QWidget::closeEvent(event);
}

void NetdiskWindow::keepTypedFolder()
{
    if (!m_path->isModified())
        return;
    m_path->setModified(false);
    m_services.settings.write(settings::keys::SaveFolder, common::fromQString(m_path->text()));
}

void NetdiskWindow::toggleAutoClose()
{
    const bool ticked = !m_autoClose->isChecked();
    m_autoClose->setChecked(ticked);
    m_services.settings.writeFlag(settings::keys::AutoCloseTool, ticked);
}

void NetdiskWindow::browse()
{
    // The dialog opens on the folder the box names, not wherever the program happened to be started.
    const QString chosen = m_services.picker.pickFolder(
        this, QStringLiteral("Verrin 百度网盘 快速下载工具 QQ500600700"), m_path->text());
    m_path->setText(chosen.isEmpty() ? defaultFolder() : chosen);
    m_services.settings.write(settings::keys::SaveFolder, common::fromQString(m_path->text()));
}

std::filesystem::path NetdiskWindow::folder() const
{
    // The folder as the file system names it: a name that GBK cannot spell must not become another folder.
    return std::filesystem::path(QFile::encodeName(m_path->text()).toStdString());
}

void NetdiskWindow::startResolution()
{
    const std::string address = common::fromQString(m_address->text());
    if (address.size() < MinShareAddressBytes) {
        m_services.notifier.showMessage(unsupportedMessage(), true);
        close();
        return;
    }
    // An empty box, or a folder that is not there: the file would land nowhere the user can find it.
    std::error_code error;
    if (m_path->text().isEmpty() || !std::filesystem::is_directory(folder(), error)) {
        m_services.notifier.showMessage(common::gbk("请输入正确的文件保存路径!"), true);
        return;
    }
    // A folder the window chose in place of an unusable stored one becomes the user's from now on.
    m_services.settings.write(settings::keys::SaveFolder, common::fromQString(m_path->text()));
    m_shareAddress = address;
    // The pages are read off the UI thread, and off Qt's own pool, which painting waits for, so the window keeps
    // painting while a server is silent; a second press meanwhile does nothing.
    m_download->setEnabled(false);
    // The catalog record may carry the file's SHA-256; the file is checked against it before it takes its name.
    using Resolved = std::pair<ShareResolution, std::optional<common::Sha256Digest>>;
    auto *watcher = new QFutureWatcher<Resolved>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        const Resolved resolved = watcher->result();
        m_checksum = resolved.second;
        onResolved(resolved.first);
    });
    watcher->setFuture(QtConcurrent::run(
        &m_services.networkPool, [address, fetch = m_services.fetch, checksumOf = m_services.checksumOf] {
            return Resolved{resolveShare(address, fetch), checksumOf ? checksumOf(address) : std::nullopt};
        }));
}

void NetdiskWindow::onResolved(const ShareResolution &resolution)
{
    m_frame->setStatusText(common::toQString(statusLineText(resolution.facts)));
    emit resolved();
    if (!resolution.supported) {
        m_services.notifier.showMessage(unsupportedMessage(), true);
        close();
        return;
    }
    repaintCaption();
    if (resolution.directLink.empty()) {
        // Nothing to download: say so instead of starting a task that can only fail.
        m_services.notifier.showMessage(failureMessage(describeDownloadError({DownloadError::Kind::NoDirectLink, false,
                                            0, common::gbk("分享页面中没有找到下载直链")})),
            false);
        return;
    }
    startDownload(resolution);
}

void NetdiskWindow::startDownload(const ShareResolution &)
{
    // The list reads the share pages again when the download starts, and again whenever its direct link expires.
    m_item = m_services.queue.add(m_shareAddress, folder(), m_checksum);
    m_timer->start();
}

void NetdiskWindow::showProgress()
{
    const std::vector<downloads::Item> items = m_services.queue.items();
    const auto item
        = std::find_if(items.begin(), items.end(), [this](const downloads::Item &entry) { return entry.id == m_item; });
    // Taken off the list: there is nothing left to show or to end.
    if (item == items.end()) {
        m_timer->stop();
        m_progressLabel->setText(QStringLiteral("0%"));
        m_progressBar->setValue(0);
        return;
    }
    if (item->state == downloads::State::Finished || item->state == downloads::State::Failed)
        return onDownloadEnded(item->state == downloads::State::Failed ? item->reason : std::string());
    const ProgressView view = progressView(item->received, static_cast<double>(item->size));
    m_progressLabel->setText(QString::number(view.labelPercent) + QStringLiteral("% 下载中..."));
    m_progressBar->setValue(view.barPosition);
    const double speed = item->bytesPerSecond; // measured by the queue, as the downloads list shows it
    m_progressBar->setToolTip(
        common::toQString(progressTip(speed, secondsLeft(item->received, static_cast<double>(item->size), speed))));
    repaintCaption();
}

void NetdiskWindow::onDownloadEnded(const std::string &failure)
{
    m_timer->stop();
    m_progressBar->setValue(0);
    m_progressBar->setToolTip(QString());
    m_progressLabel->setText(QStringLiteral("0%"));
    QFile chime(QStringLiteral(":/kavo/done.wav"));
    if (chime.open(QIODevice::ReadOnly))
        m_services.sound.play(chime.readAll().toStdString(), false);
    emit downloadEnded(failure.empty());
    if (!failure.empty()) {
        m_services.notifier.showMessage(failureMessage(failure), false);
        return;
    }
    if (m_autoClose->isChecked())
        close();
}

void NetdiskWindow::repaintCaption()
{
    m_autoCloseCaption->hide();
    m_autoCloseCaption->show();
}

} // namespace download
