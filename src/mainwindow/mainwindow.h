#pragma once

#include "downloads/queue.h"
#include "mainwindow/mainwindowform.h"
#include "platform/paths.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QLineEdit;
class QSystemTrayIcon;
class QThreadPool;
class QTimer;

namespace appearance {
class AnimatedBoard;
class Notifier;
class PicturePicker;
class WindowFrame;
} // namespace appearance
namespace catalog {
class CatalogViews;
}
namespace feedback {
class MailSender;
}
namespace update {
struct ManifestRead;
class ManifestOnce;
struct UpdateOffer;
} // namespace update
namespace download {
class FolderPicker;
}
namespace downloads {
class CompletionNotice;
class DownloadsWindow;
class RemovePrompter;
} // namespace downloads
namespace platform {
class Desktop;
class HotKeys;
class SingleInstance;
class Sound;
} // namespace platform
namespace settings {
class Settings;
}

namespace mainwindow {

class DesktopIntegration;

// What the main window needs from the rest of the program, built once in main() and passed in.
struct Services
{
    const settings::Settings &settings;
    platform::ProgramPaths paths;
    platform::Sound &sound;
    platform::Desktop &desktop;
    appearance::Notifier &notifier;
    download::FolderPicker &picker;
    appearance::PicturePicker &picturePicker;
    std::function<std::string(const std::string &)> fetch; // FetchUrl in the program
    std::shared_ptr<feedback::MailSender>
        mailSender; // the feedback page's; ends its connection when the last owner goes
    QThreadPool &networkPool; // runs the tasks that wait on the network
    platform::HotKeys *hotKeys = nullptr; // none: no global hot keys
    platform::SingleInstance *instance = nullptr; // none: no single-instance check
    // Whether the desktop shows tray icons now. Without a tray, a window hidden to it could not be brought back,
    // so minimising leaves it minimised instead.
    std::function<bool()> trayAvailable = [] { return true; };
    // The start's one read of the manifest page through the catalog channel; none: the page as `fetch` gives it,
    // unchecked and uncached.
    std::function<update::ManifestRead()> readManifest = {};
    // How the downloads list reads a share page; none: resolveShare() over `fetch`.
    downloads::Resolver resolveShare = {};
};

// The main window "KAVO 软件一键下载" with the program's version. UI thread only.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(Services services, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence. False when another instance runs: that one was raised, and this window closed
    // without ever being shown.
    bool startUp();

    const MainWindowForm &form() const { return m_form; }
    QSystemTrayIcon *trayIcon() const;
    appearance::WindowFrame &frame() const { return *m_frame; }
    appearance::AnimatedBoard &board() const { return *m_board; }
    // The "其他" menu's commands.
    void changeBackgroundFile();
    void changeBoardPicture();
    void toggleMusic(bool on);
    void openBackgroundChooser();

    catalog::CatalogViews &catalogViews() const { return *m_catalog; }

    void selectPage(int index);
    // Opens the netdisk quick download tool, not modal, with the pending download address.
    void openNetdiskTool();
    // Opens the downloads list, or raises it when it is open.
    void openDownloadsList();
    downloads::Queue &queue() const { return *m_queue; }

signals:
    // The announcement fill has written its last field (and started the saved search, if any).
    void announcementFilled();
    // The version check has ended; `offered` tells whether it opened the update window, and then the check
    // ended when that window was closed.
    void versionChecked(bool offered);

public:
    // The click routine of tab button k (0 to 6): a category tab starts its load, then selects its page.
    void tabRoutine(int k);
    void restoreMainWindow();
    void hideToTray();

signals:
    // The fade-in has ended and the last start-up steps have run.
    void startupFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void addTabButtons();
    void wireOtherMenu();
    void wireTrayMenu();
    void createQueue();
    void startDownloads();
    void registerHotKeys();
    void onHotKey(int identifier);
    void applyMusicAndTray();
    void roundCorners();
    void fadeIn(std::size_t step);
    void finishStartUp();
    void loadAnimatedPicture();
    void startAdvertScrolling();

    void wireVersionFields();
    void loadVersions();
    void offerUpdate(const update::UpdateOffer &offer, const std::string &page);
    void setAdvertisement(const std::string &gbkText);
    void restoreSearch(const std::string &gbkText);
    // The notice box: the manifest's notice, and under it how many records the last refreshes brought.
    void showNotice();
    QLineEdit *versionField(int category) const;

    // Start-up steps; each is called at its place in the sequence.
    void startAnnouncementFill();
    void applyFrameAndBackground();
    void startAnimation();
    void startVersionCheck();

    Services m_services;
    std::shared_ptr<update::ManifestOnce> m_manifest; // shared with the workers that read it
    MainWindowForm m_form;
    catalog::CatalogViews *m_catalog = nullptr;
    appearance::WindowFrame *m_frame = nullptr;
    appearance::AnimatedBoard *m_board = nullptr;
    DesktopIntegration *m_desktop = nullptr;
    QTimer *m_fadeTimer = nullptr;
    QTimer *m_advertTimer = nullptr;
    std::string m_notice; // GBK, as the manifest page gave it
    int m_f5Key = 0;
    int m_homeKey = 0;
    // The window is closing: a dialog that a signal or logout ended has no answer of the user's.
    bool m_closing = false;
    std::unique_ptr<downloads::Queue> m_queue; // continued at start-up, stopped with the window
    std::unique_ptr<downloads::RemovePrompter> m_removePrompter;
    downloads::CompletionNotice *m_completion = nullptr;
    QPointer<downloads::DownloadsWindow> m_downloadsWindow;
};

} // namespace mainwindow
