#include "catalog/ui/catalogviews.h"

#include "appearance/notifier.h"
#include "catalog/catalogmodel.h"
#include "catalog/loader.h"
#include "catalog/rowfeeder.h"
#include "catalog/sortorder.h"
#include "common/gbk.h"
#include "common/qtext.h"
#include "download/links.h"
#include "platform/desktop.h"
#include "settings/settings.h"
#include "update/newrecords.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <mutex>
#include <optional>

namespace catalog {

namespace {

const QString SearchHint = QStringLiteral("请输入要查找的名称");
const QString DefaultName = QStringLiteral("网友");
const QColor HintGrey(192, 192, 192);

int addressColumn(int list)
{
    return list == CatalogViews::SearchList ? 1 : 3;
}

// Sizes and share times by their values; names, addresses and tags as text.
SortKey sortKeyOf(int list, int column)
{
    if (list != CatalogViews::SearchList && column == 1)
        return SortKey::Size;
    if (list != CatalogViews::SearchList && column == 2)
        return SortKey::Time;
    return SortKey::Name;
}

} // namespace

CatalogViews::CatalogViews(Controls controls, const settings::Settings &settings, platform::Desktop &desktop,
    appearance::Notifier &notifier, std::filesystem::path programDirectory, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_settings(settings)
    , m_desktop(desktop)
    , m_notifier(notifier)
    , m_directory(std::move(programDirectory))
    , m_criterion(std::make_shared<SearchCriterion>())
    , m_pendingText(std::make_shared<PendingText>())
    , m_settingsWriter(std::make_unique<QThreadPool>())
{
    m_settingsWriter->setMaxThreadCount(1);
    for (std::size_t i = 0; i < m_feeders.size(); ++i) {
        const int list = static_cast<int>(i) + 1;
        m_feeders[i] = new RowFeeder(m_controls.models[i], this);
        m_controls.lists[i]->viewport()->installEventFilter(this);
        QHeaderView *header = m_controls.lists[i]->header();
        header->setSectionsClickable(true);
        connect(
            header, &QHeaderView::sectionClicked, this, [this, list](int column) { onHeaderClicked(list, column); });
        // Rows that came after a header click take their places once they are all in.
        if (list != SearchList)
            connect(m_feeders[i], &RowFeeder::finished, this, [this, list] { applySort(list); });
    }
    connect(m_feeders[SearchList - 1], &RowFeeder::finished, this, &CatalogViews::onSearchDone);
    // Were the button to take the focus, the search box would put its hint back before the click searched.
    m_controls.searchButton->setFocusPolicy(Qt::NoFocus);
    setSearchBoxColour(HintGrey);
    wireMenu();
    wireInputs();
}

CatalogViews::~CatalogViews()
{
    if (m_searchStop)
        m_searchStop->store(true);
    m_settingsWriter->waitForDone(); // the last text typed reaches the file
}

void CatalogViews::loadCategory(int number)
{
    clearSort(number);
    const Category &category = catalog::category(number);
    m_feeders[static_cast<std::size_t>(number - 1)]->start(
        [directory = m_directory, category](const RowFeeder::RowSink &hand) {
            const update::NewRecords fresh = update::readNewRecords(categoryFile(directory, category));
            catalog::loadCategory(directory, category, [&hand, &fresh](std::vector<CatalogItem> items) {
                RowFeeder::Rows rows;
                for (const CatalogItem &item : items) {
                    rows.push_back(CatalogModel::categoryRow(item));
                    rows.back().isNew = !fresh.empty() && fresh.contains(update::recordKey(item));
                }
                return hand(std::move(rows)); // a newer load, or the window closing, ends this one
            });
        });
}

void CatalogViews::startSearch()
{
    runSearch(false);
}

void CatalogViews::setTypingPause(std::chrono::milliseconds pause)
{
    m_typingTimer->setInterval(pause);
}

void CatalogViews::runSearch(bool typed)
{
    m_typingTimer->stop();
    m_searchTyped = typed;
    if (m_searchStop)
        m_searchStop->store(true);
    m_searchStop = std::make_shared<std::atomic<bool>>(false);
    clearSort(SearchList);
    m_criterion->set(common::fromQString(m_controls.searchBox->text()));
    m_feeders[SearchList - 1]->start(
        [directory = m_directory, criterion = m_criterion, stop = m_searchStop](const RowFeeder::RowSink &hand) {
            searchCatalog(directory, *criterion, stop.get(), [&hand](std::vector<SearchHit> hits) {
                RowFeeder::Rows rows;
                for (SearchHit &hit : hits)
                    rows.push_back({{std::move(hit.name), std::move(hit.address)}, hit.icon});
                hand(std::move(rows));
            });
        });
    emit searchStarted();
}

void CatalogViews::cancelSearch()
{
    m_typingTimer->stop();
    if (m_searchStop)
        m_searchStop->store(true);
    m_feeders[SearchList - 1]->stop();
    clearSort(SearchList);
}

void CatalogViews::onSearchEdited(const QString &text)
{
    cancelSearch();
    if (!text.isEmpty() && text != SearchHint)
        m_typingTimer->start();
}

void CatalogViews::refreshActiveList()
{
    if (m_activeList >= 1 && m_activeList <= 5)
        loadCategory(m_activeList);
    else if (m_activeList == SearchList)
        startSearch();
}

void CatalogViews::onSearchDone()
{
    applySort(SearchList);
    if (m_controls.models[SearchList - 1]->rowCount() == 0 && !m_searchTyped) {
        const std::string text = common::fromQString(m_controls.searchBox->text());
        m_notifier.showMessage(common::gbk("没有找到<") + text + common::gbk(">的相关内容!"), true);
    }
    emit searchFinished();
}

bool CatalogViews::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        for (std::size_t i = 0; i < m_controls.lists.size(); ++i) {
            if (watched == m_controls.lists[i]->viewport())
                return onListPress(static_cast<int>(i) + 1, static_cast<QMouseEvent *>(event));
        }
    }
    const bool leftPress
        = event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
    if (watched == m_controls.searchBox && leftPress) {
        if (m_controls.searchBox->text() == SearchHint) {
            setSearchBoxColour(Qt::black);
            m_controls.searchBox->clear();
        }
    } else if (watched == m_controls.searchBox && event->type() == QEvent::FocusOut) {
        if (!m_controls.searchBox->text().isEmpty()) {
            setSearchBoxColour(Qt::black);
        } else {
            setSearchBoxColour(HintGrey);
            m_controls.searchBox->setText(SearchHint);
        }
    } else if (watched == m_controls.nameField && leftPress) {
        if (m_controls.nameField->text() == DefaultName)
            m_controls.nameField->clear();
    } else if (watched == m_controls.rememberLabel && leftPress) {
        toggleRememberBox();
    }
    return QObject::eventFilter(watched, event);
}

bool CatalogViews::onListPress(int list, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return false;
    m_activeList = list;
    if (event->button() == Qt::RightButton && m_controls.models[static_cast<std::size_t>(list - 1)]->rowCount() > 0) {
        // After the view has selected the row under the mouse.
        const QPoint where = event->globalPosition().toPoint();
        QMetaObject::invokeMethod(
            this, [this, where] { m_controls.itemMenu->popup(where); }, Qt::QueuedConnection);
    }
    return false;
}

std::string CatalogViews::selectedAddress() const
{
    if (m_activeList < 1 || m_activeList > SearchList)
        return {};
    const auto index = static_cast<std::size_t>(m_activeList - 1);
    const QModelIndex current = m_controls.lists[index]->selectionModel()->currentIndex();
    const bool selected = current.isValid() && m_controls.lists[index]->selectionModel()->isRowSelected(current.row());
    return selected ? m_controls.models[index]->text(current.row(), addressColumn(m_activeList)) : std::string();
}

void CatalogViews::wireMenu()
{
    for (QAction *action : m_controls.itemMenu->findChildren<QAction *>()) {
        if (!action->isSeparator() && !action->menu())
            connect(action, &QAction::triggered, this, [this, action] { runCommand(action->objectName()); });
    }
}

void CatalogViews::runCommand(const QString &name)
{
    if (m_activeList == 0)
        return;
    const std::string address = selectedAddress();
    if (name == QStringLiteral("本地下载") || name == QStringLiteral("网页下载")) {
        // No row, or a row without an address: there is nothing to open, and nothing went wrong.
        if (!common::trimBlanks(address).empty())
            handOff(address);
    } else if (name == QStringLiteral("迅雷下载")) {
        handOff(download::thunderLink(address));
        if (m_activeList == 1)
            m_desktop.setClipboardText(download::thunderLink(selectedAddress()));
    } else if (name == QStringLiteral("快车下载")) {
        handOff(download::flashgetLink(address));
    } else if (name == QStringLiteral("旋风下载")) {
        handOff(download::qqdlLink(address));
    } else if (name == QStringLiteral("刷新一下")) {
        refreshActiveList();
    } else if (name == QStringLiteral("立即下载")) {
        m_pendingDownloadAddress = address;
        emit netdiskToolRequested();
    } else if (name == QStringLiteral("复制地址")) {
        m_desktop.setClipboardText(address);
        m_notifier.showMessage(common::gbk("复制成功!"), false);
    }
}

void CatalogViews::handOff(const std::string &gbkText)
{
    // What the system's handler then does with the address is its own affair; that the handler could not even be
    // started (no xdg-open, or an address longer than one argument may be) would otherwise pass unnoticed.
    if (!m_desktop.openAddress(gbkText))
        m_notifier.showMessage(common::gbk("无法交给系统打开：没有可以打开它的程序，或者地址太长。"), false);
}

void CatalogViews::wireInputs()
{
    m_controls.searchBox->installEventFilter(this);
    m_controls.nameField->installEventFilter(this);
    m_controls.rememberLabel->installEventFilter(this);
    connect(m_controls.searchBox, &QLineEdit::textChanged, this, [this](const QString &text) {
        const std::string gbkText = common::fromQString(text);
        storeSearchText(gbkText);
        // A running search reads the box again for every record it has not yet looked at.
        m_criterion->set(gbkText);
    });
    m_typingTimer = new QTimer(this);
    m_typingTimer->setObjectName(QStringLiteral("typingPause"));
    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(TypingPause);
    connect(m_typingTimer, &QTimer::timeout, this, [this] { runSearch(true); });
    // Only what the user types: the start-up restore and the hint coming back are no typing.
    connect(m_controls.searchBox, &QLineEdit::textEdited, this, &CatalogViews::onSearchEdited);
    connect(m_controls.searchBox, &QLineEdit::returnPressed, this, &CatalogViews::startSearch);
    connect(m_controls.searchButton, &QPushButton::clicked, this, &CatalogViews::startSearch);
    connect(m_controls.nameField, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_controls.rememberBox->isChecked())
            m_settings.write(settings::keys::UserName, common::fromQString(text));
    });
}

void CatalogViews::onHeaderClicked(int list, int column)
{
    SortState &sort = m_sorts[static_cast<std::size_t>(list - 1)];
    sort.reversed = sort.column == column && !sort.reversed;
    sort.column = column;
    applySort(list);
}

void CatalogViews::applySort(int list)
{
    const SortState sort = m_sorts[static_cast<std::size_t>(list - 1)];
    if (sort.column < 0)
        return;
    const CatalogModel *model = m_controls.models[static_cast<std::size_t>(list - 1)];
    const SortKey key = sortKeyOf(list, sort.column);
    m_controls.models[static_cast<std::size_t>(list - 1)]->reorder(sortedRows(
        static_cast<std::size_t>(model->rowCount()),
        [model, &sort](std::size_t row) { return model->cell(static_cast<int>(row), sort.column); }, key,
        sort.reversed));
    // Times come newest first, everything else smallest first.
    const bool ascending = (key != SortKey::Time) != sort.reversed;
    QHeaderView *header = m_controls.lists[static_cast<std::size_t>(list - 1)]->header();
    header->setSortIndicator(sort.column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    header->setSortIndicatorShown(true);
}

void CatalogViews::clearSort(int list)
{
    m_sorts[static_cast<std::size_t>(list - 1)] = {};
    m_controls.lists[static_cast<std::size_t>(list - 1)]->header()->setSortIndicatorShown(false);
}

// The latest text waits here for the writer thread.
struct CatalogViews::PendingText
{
    std::mutex mutex;
    std::optional<std::string> text;
    bool queued = false; // a write task will look again
};

void CatalogViews::storeSearchText(std::string gbkText)
{
    // A write syncs the settings file to disk, which can take tens of milliseconds while the disk is busy: not
    // between two keystrokes. One thread writes, in order, the latest text at each turn.
    {
        const std::lock_guard lock(m_pendingText->mutex);
        m_pendingText->text = std::move(gbkText);
        if (std::exchange(m_pendingText->queued, true))
            return;
    }
    m_settingsWriter->start([pending = m_pendingText, &settings = m_settings] {
        for (;;) {
            std::string text;
            {
                const std::lock_guard lock(pending->mutex);
                if (!pending->text) {
                    pending->queued = false;
                    return;
                }
                text = std::move(*pending->text);
                pending->text.reset();
            }
            settings.write(settings::keys::SearchText, text);
        }
    });
}

void CatalogViews::setSearchBoxColour(const QColor &colour)
{
    QPalette palette = m_controls.searchBox->palette();
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::Base, Qt::white);
    m_controls.searchBox->setPalette(palette);
}

void CatalogViews::toggleRememberBox()
{
    const bool tick = !m_controls.rememberBox->isChecked();
    m_settings.writeFlag(settings::keys::RememberName, tick);
    m_controls.rememberBox->setChecked(tick);
}

} // namespace catalog
