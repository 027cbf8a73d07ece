#pragma once

#include "catalog/search.h"

#include <QObject>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QPushButton;
class QThreadPool;
class QTimer;
class QTreeView;

namespace appearance {
class Notifier;
}
namespace platform {
class Desktop;
}
namespace settings {
class Settings;
}

namespace catalog {

class CatalogModel;
class RowFeeder;

// The catalog on the main window: the five category views and the search results, the active list, the item
// menu and its commands, the search, and the remembered name and search inputs. UI thread only.
class CatalogViews : public QObject
{
    Q_OBJECT

public:
    struct Controls
    {
        std::array<QTreeView *, 6> lists{};
        std::array<CatalogModel *, 6> models{};
        QMenu *itemMenu = nullptr;
        QLineEdit *searchBox = nullptr; // 编辑框4
        QPushButton *searchButton = nullptr; // 图形按钮11
        QLineEdit *nameField = nullptr; // 编辑框1
        QCheckBox *rememberBox = nullptr; // 选择框2
        QLabel *rememberLabel = nullptr; // 透明标签2
    };
    static constexpr int SearchList = 6;

    CatalogViews(Controls controls, const settings::Settings &settings, platform::Desktop &desktop,
        appearance::Notifier &notifier, std::filesystem::path programDirectory, QObject *parent = nullptr);
    ~CatalogViews() override;

    // Empties a category's view and refills it from its file off the UI thread; a newer load wins, and the older
    // stops reading, as a load does when the views are destroyed.
    void loadCategory(int number);
    // Searches all five files for the search box's text off the UI thread; a newer search cancels an older one.
    void startSearch();
    // How long the search box must stay unchanged before what was typed into it is searched.
    static constexpr std::chrono::milliseconds TypingPause{300};
    void setTypingPause(std::chrono::milliseconds pause);
    // "刷新一下": reloads the active list.
    void refreshActiveList();

    int activeList() const { return m_activeList; }
    // The address the "立即下载" command handed on, with its leading blank.
    const std::string &pendingDownloadAddress() const { return m_pendingDownloadAddress; }

signals:
    // "立即下载": the netdisk tool should open with pendingDownloadAddress().
    void netdiskToolRequested();
    // A search has started: at once for Enter, the search button and the refresh command, after a pause for typing.
    void searchStarted();
    // Every hit of the newest search is in the result view (the not-found notice, if any, has been shown).
    void searchFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wireMenu();
    void wireInputs();
    bool onListPress(int list, QMouseEvent *event);
    // The address column of the active list's selected row; empty without a selection.
    std::string selectedAddress() const;
    void runCommand(const QString &name);
    void handOff(const std::string &gbkText);
    void onSearchDone();
    // Typing: the running search ends and its rows go; a text other than nothing or the hint is searched once the
    // box has stayed unchanged for the typing pause.
    void onSearchEdited(const QString &text);
    void runSearch(bool typed);
    void cancelSearch();
    // Writes the search text to the settings file off the UI thread; the last text always lands.
    void storeSearchText(std::string gbkText);
    void setSearchBoxColour(const QColor &colour);
    void toggleRememberBox();
    // Header clicks: the first on a column sorts the list by it, the next turns the order round.
    void onHeaderClicked(int list, int column);
    void applySort(int list);
    // Back to file order, as a reload or a new search gives.
    void clearSort(int list);

    Controls m_controls;
    const settings::Settings &m_settings;
    platform::Desktop &m_desktop;
    appearance::Notifier &m_notifier;
    std::filesystem::path m_directory;
    std::array<RowFeeder *, 6> m_feeders{};
    std::shared_ptr<SearchCriterion> m_criterion;
    std::shared_ptr<std::atomic<bool>> m_searchStop;
    QTimer *m_typingTimer = nullptr;
    struct PendingText;
    std::shared_ptr<PendingText> m_pendingText;
    std::unique_ptr<QThreadPool> m_settingsWriter;
    // The newest search was started by typing: a typist is told of no miss, the empty list says it.
    bool m_searchTyped = false;
    struct SortState
    {
        int column = -1; // none: file order
        bool reversed = false;
    };
    std::array<SortState, 6> m_sorts{};
    int m_activeList = 0;
    std::string m_pendingDownloadAddress;
};

} // namespace catalog
