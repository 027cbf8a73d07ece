#pragma once

#include "common/sha256.h"

#include "download/progress.h"
#include "download/sharepage.h"

#include <QString>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThreadPool;
class QTimer;

namespace appearance {
class Notifier;
class WindowFrame;
} // namespace appearance
namespace platform {
class Sound;
}
namespace settings {
class Settings;
}

namespace downloads {
class Queue;
}

namespace download {

// Asks the user for a folder, starting from `start`; an empty text means the user cancelled. UI thread only.
class FolderPicker
{
public:
    virtual ~FolderPicker() = default;
    virtual QString pickFolder(QWidget *parent, const QString &prompt, const QString &start) = 0;
};

// The system's folder dialog.
std::unique_ptr<FolderPicker> createFolderPicker();

struct NetdiskServices
{
    const settings::Settings &settings;
    downloads::Queue &queue; // the tool's download joins the downloads list
    appearance::Notifier &notifier;
    platform::Sound &sound;
    FolderPicker &picker;
    Fetcher fetch; // FetchUrl in the program
    QThreadPool &networkPool; // reads the share pages; outlives the window's tasks
    // The SHA-256 that the catalog gives for a share address; none: downloads are not checked.
    std::function<std::optional<common::Sha256Digest>(const std::string &address)> checksumOf = {};
};

// The netdisk quick download tool "百度网盘软件下载": resolves a share link, adds its file to the downloads list
// and shows that download's progress until it ends. Opened non-modally; deletes itself when closed. UI thread
// only.
class NetdiskWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Width = 364;
    static constexpr int Height = 162;

    NetdiskWindow(NetdiskServices services, const std::string &gbkAddress, QWidget *parent = nullptr);
    ~NetdiskWindow() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

signals:
    // The share pages have been read (whatever they gave); for tests and the status line.
    void resolved();
    // The download has ended and the display is reset.
    void downloadEnded(bool succeeded);
    // The user asks for the downloads list.
    void downloadsListRequested();

private:
    void buildControls();
    void wireControls();
    void browse();
    void keepTypedFolder();
    void toggleAutoClose();
    void startResolution();
    void onResolved(const ShareResolution &resolution);
    void startDownload(const ShareResolution &resolution);
    void showProgress();
    void onDownloadEnded(const std::string &failure); // GBK reason; empty: it succeeded
    void repaintCaption();
    std::filesystem::path folder() const;

    NetdiskServices m_services;
    std::optional<std::uint64_t> m_item; // the queue's id of the download this window started
    std::string m_shareAddress; // the share link of the last press, resolved again when its direct link expires
    QLabel *m_addressCaption = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_path = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_download = nullptr;
    QPushButton *m_list = nullptr;
    QCheckBox *m_autoClose = nullptr;
    QLabel *m_autoCloseCaption = nullptr;
    QLabel *m_progressLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QTimer *m_timer = nullptr;
    appearance::WindowFrame *m_frame = nullptr;
    std::optional<common::Sha256Digest> m_checksum; // of the file being resolved or downloaded
};

} // namespace download
