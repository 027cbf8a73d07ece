#pragma once

#include "downloads/queue.h"

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace platform {
class Desktop;
}
namespace settings {
class Settings;
}

namespace downloads {

enum class RemoveChoice
{
    Cancel,
    KeepFile,
    DeleteFile // the file, or its partial data while it is not whole
};

// Asks whether a download leaves the list with its file or without. UI thread only.
class RemovePrompter
{
public:
    virtual ~RemovePrompter() = default;
    virtual RemoveChoice askRemove(QWidget *parent, const QString &name) = 0;
};

// A small question box with the three answers.
std::unique_ptr<RemovePrompter> createRemovePrompter();

struct DownloadsServices
{
    Queue &queue;
    const settings::Settings &settings;
    platform::Desktop &desktop; // opens a download's folder
    RemovePrompter &prompter;
};

// The downloads list "下载列表": a row per download of the queue with its progress and its buttons, and under the
// rows the queue's options (speed limit, how many at once, proxy), which the settings file keeps. It polls the
// queue's snapshot; every decision stays in the queue. Opened non-modally; deletes itself when closed. UI thread
// only.
class DownloadsWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Width = 820;
    static constexpr int Height = 360;
    static constexpr int PollMs = 500;

    explicit DownloadsWindow(DownloadsServices services, QWidget *parent = nullptr);
    ~DownloadsWindow() override;

    // Shows the queue as it is now (the timer calls it).
    void refresh();

private:
    void buildOptions();
    void showOptions(const QueueOptions &options);
    void applyOptions();
    void rebuildRows();
    void fillRow(int row, const Item &item);
    QWidget *rowButtons(std::uint64_t id);
    const Item *item(std::uint64_t id) const;
    void togglePause(std::uint64_t id);
    void removeItem(std::uint64_t id);
    void openFolder(std::uint64_t id);

    DownloadsServices m_services;
    std::vector<Item> m_items; // the snapshot on screen, in list order
    QTableWidget *m_table = nullptr;
    QSpinBox *m_limit = nullptr;
    QSpinBox *m_concurrency = nullptr;
    QComboBox *m_proxyMode = nullptr;
    QLineEdit *m_proxyAddress = nullptr;
    QLabel *m_proxyProblem = nullptr;
    QTimer *m_timer = nullptr;
};

} // namespace downloads
