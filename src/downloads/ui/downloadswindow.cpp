#include "downloads/ui/downloadswindow.h"

#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "common/qtext.h"
#include "download/proxy.h"
#include "downloads/options.h"
#include "downloads/rowview.h"
#include "platform/desktop.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

namespace downloads {

namespace {

using Mode = download::ProxySetting::Mode;

enum Column
{
    NameColumn,
    SizeColumn,
    ProgressColumn,
    SpeedColumn,
    TimeLeftColumn,
    StateColumn,
    ButtonsColumn,
    ColumnCount
};

// The proxy box's entries, in order.
constexpr Mode ProxyModes[] = {Mode::None, Mode::System, Mode::Manual};

constexpr std::int64_t KiB = 1024;

template <typename W> W *named(W *widget, const char *utf8Name)
{
    widget->setObjectName(QString::fromUtf8(utf8Name));
    return widget;
}

class BoxRemovePrompter final : public RemovePrompter
{
public:
    RemoveChoice askRemove(QWidget *parent, const QString &name) override
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("删除下载"),
            QStringLiteral("从列表中删除“%1”？").arg(name), QMessageBox::NoButton, parent);
        QPushButton *keep = box.addButton(QStringLiteral("保留文件"), QMessageBox::AcceptRole);
        QPushButton *erase = box.addButton(QStringLiteral("连同文件删除"), QMessageBox::DestructiveRole);
        box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.exec();
        if (box.clickedButton() == keep)
            return RemoveChoice::KeepFile;
        if (box.clickedButton() == erase)
            return RemoveChoice::DeleteFile;
        return RemoveChoice::Cancel;
    }
};

std::vector<std::uint64_t> idsOf(const std::vector<Item> &items)
{
    std::vector<std::uint64_t> ids;
    for (const Item &item : items)
        ids.push_back(item.id);
    return ids;
}

} // namespace

std::unique_ptr<RemovePrompter> createRemovePrompter()
{
    return std::make_unique<BoxRemovePrompter>();
}

DownloadsWindow::DownloadsWindow(DownloadsServices services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
{
    setObjectName(QStringLiteral("下载列表"));
    setWindowTitle(QStringLiteral("下载列表"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(Width, Height);
    move(50, 50);
    m_table = named(new QTableWidget(0, ColumnCount, this), "表格_下载列表");
    m_table->setGeometry(10, appearance::WindowFrame::TitleHeight + 6, Width - 20, Height - 92);
    m_table->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("大小"), QStringLiteral("进度"),
        QStringLiteral("速度"), QStringLiteral("剩余时间"), QStringLiteral("状态"), QStringLiteral("操作")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->verticalHeader()->hide();
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setWordWrap(false);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(StateColumn, QHeaderView::Stretch);
    // Sized to the row buttons in rebuildRows(): a header sizes a column to its items, never to a cell's widget.
    header->setSectionResizeMode(ButtonsColumn, QHeaderView::Fixed);
    for (const auto &[column, width] :
        {std::pair{SizeColumn, 70}, {ProgressColumn, 90}, {SpeedColumn, 80}, {TimeLeftColumn, 64}})
        m_table->setColumnWidth(column, width);
    buildOptions();
    auto *frame = new appearance::WindowFrame(this, {appearance::ButtonKind::Close});
    appearance::applyBackground(*frame, m_services.settings);
    m_timer = named(new QTimer(this), "时钟_刷新");
    connect(m_timer, &QTimer::timeout, this, &DownloadsWindow::refresh);
    m_timer->start(PollMs);
    refresh();
}

DownloadsWindow::~DownloadsWindow() = default;

void DownloadsWindow::buildOptions()
{
    auto *row = named(new QWidget(this), "选项");
    row->setGeometry(10, Height - 50, Width - 20, 40);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("限速："), row));
    m_limit = named(new QSpinBox(row), "数字框_限速");
    m_limit->setRange(0, 1024 * 1024);
    m_limit->setSuffix(QStringLiteral(" KiB/s"));
    m_limit->setSpecialValueText(QStringLiteral("不限速"));
    layout->addWidget(m_limit);
    layout->addWidget(new QLabel(QStringLiteral("同时下载："), row));
    m_concurrency = named(new QSpinBox(row), "数字框_同时下载");
    m_concurrency->setRange(1, MaxConcurrency);
    layout->addWidget(m_concurrency);
    layout->addWidget(new QLabel(QStringLiteral("代理："), row));
    m_proxyMode = named(new QComboBox(row), "组合框_代理");
    m_proxyMode->addItems({QStringLiteral("不使用代理"), QStringLiteral("系统代理"), QStringLiteral("手动设置")});
    layout->addWidget(m_proxyMode);
    m_proxyAddress = named(new QLineEdit(row), "编辑框_代理地址");
    m_proxyAddress->setPlaceholderText(QStringLiteral("socks5h://127.0.0.1:1080"));
    layout->addWidget(m_proxyAddress, 1);
    m_proxyProblem = named(new QLabel(this), "标签_代理提示");
    m_proxyProblem->setGeometry(10, Height - 14, Width - 20, 14);
    showOptions(m_services.queue.options());
    connect(m_limit, &QSpinBox::valueChanged, this, &DownloadsWindow::applyOptions);
    connect(m_concurrency, &QSpinBox::valueChanged, this, &DownloadsWindow::applyOptions);
    connect(m_proxyMode, &QComboBox::currentIndexChanged, this, &DownloadsWindow::applyOptions);
    connect(m_proxyAddress, &QLineEdit::editingFinished, this, &DownloadsWindow::applyOptions);
}

void DownloadsWindow::showOptions(const QueueOptions &options)
{
    m_limit->setValue(static_cast<int>((options.maxBytesPerSecond + KiB - 1) / KiB));
    m_concurrency->setValue(options.concurrency);
    for (int i = 0; i < static_cast<int>(std::size(ProxyModes)); ++i) {
        if (ProxyModes[i] == options.proxy.mode)
            m_proxyMode->setCurrentIndex(i);
    }
    m_proxyAddress->setText(common::toQString(options.proxy.url));
    m_proxyAddress->setEnabled(options.proxy.mode == Mode::Manual);
}

void DownloadsWindow::applyOptions()
{
    QueueOptions options;
    options.maxBytesPerSecond = m_limit->value() * KiB;
    options.concurrency = m_concurrency->value();
    options.proxy.mode = ProxyModes[std::max(0, m_proxyMode->currentIndex())];
    options.proxy.url = common::fromQString(m_proxyAddress->text().trimmed());
    m_proxyAddress->setEnabled(options.proxy.mode == Mode::Manual);
    // A manual address that cannot serve stays in the box with the reason beside it; the queue keeps what works.
    if (const auto problem = download::proxyProblem(options.proxy)) {
        m_proxyProblem->setText(common::toQString(download::describeDownloadError(*problem)));
        return;
    }
    m_proxyProblem->clear();
    if (options == m_services.queue.options())
        return;
    m_services.queue.setOptions(options);
    writeQueueOptions(m_services.settings, options);
}

void DownloadsWindow::refresh()
{
    std::vector<Item> items = m_services.queue.items();
    const bool sameRows = idsOf(items) == idsOf(m_items);
    m_items = std::move(items);
    if (!sameRows)
        rebuildRows();
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row)
        fillRow(row, m_items[static_cast<std::size_t>(row)]);
}

void DownloadsWindow::rebuildRows()
{
    m_table->setRowCount(0);
    m_table->setRowCount(static_cast<int>(m_items.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        for (int column = NameColumn; column < ButtonsColumn; ++column) {
            if (column != ProgressColumn)
                m_table->setItem(row, column, new QTableWidgetItem);
        }
        auto *bar = named(new QProgressBar, "进度条");
        bar->setRange(0, 100);
        m_table->setCellWidget(row, ProgressColumn, bar);
        QWidget *buttons = rowButtons(m_items[static_cast<std::size_t>(row)].id);
        m_table->setCellWidget(row, ButtonsColumn, buttons);
        m_table->setColumnWidth(ButtonsColumn, buttons->sizeHint().width());
    }
}

void DownloadsWindow::fillRow(int row, const Item &item)
{
    const RowView view = rowView(item);
    m_table->item(row, NameColumn)->setText(common::toQString(view.name));
    m_table->item(row, NameColumn)->setToolTip(common::toQString(view.name));
    m_table->item(row, SizeColumn)->setText(common::toQString(view.size));
    m_table->item(row, SpeedColumn)->setText(common::toQString(view.speed));
    m_table->item(row, TimeLeftColumn)->setText(common::toQString(view.timeLeft));
    m_table->item(row, StateColumn)->setText(common::toQString(view.state));
    m_table->item(row, StateColumn)->setToolTip(common::toQString(view.state));
    static_cast<QProgressBar *>(m_table->cellWidget(row, ProgressColumn))->setValue(view.percent);
    QWidget *buttons = m_table->cellWidget(row, ButtonsColumn);
    auto *pause = buttons->findChild<QPushButton *>(QStringLiteral("按钮_暂停"));
    pause->setText(common::toQString(view.pauseCaption));
    pause->setEnabled(view.canPause);
    buttons->findChild<QPushButton *>(QStringLiteral("按钮_重试"))->setEnabled(view.canRetry);
}

QWidget *DownloadsWindow::rowButtons(std::uint64_t id)
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("操作_%1").arg(id));
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(2);
    const auto add = [box, layout](const char *name, const char *caption) {
        auto *button = named(new QPushButton(QString::fromUtf8(caption), box), name);
        // As wide as its caption: four buttons share the row with the download's facts.
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(button->text()) + 18);
        layout->addWidget(button);
        return button;
    };
    connect(add("按钮_暂停", "暂停"), &QPushButton::clicked, this, [this, id] { togglePause(id); });
    connect(add("按钮_重试", "重试"), &QPushButton::clicked, this, [this, id] {
        m_services.queue.retry(id);
        refresh();
    });
    connect(add("按钮_删除", "删除"), &QPushButton::clicked, this, [this, id] { removeItem(id); });
    connect(add("按钮_打开文件夹", "打开文件夹"), &QPushButton::clicked, this, [this, id] { openFolder(id); });
    return box;
}

const Item *DownloadsWindow::item(std::uint64_t id) const
{
    for (const Item &entry : m_items) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

void DownloadsWindow::togglePause(std::uint64_t id)
{
    const Item *shown = item(id);
    if (!shown)
        return;
    if (shown->state == State::Paused)
        m_services.queue.resume(id);
    else
        m_services.queue.pause(id);
    refresh();
}

void DownloadsWindow::removeItem(std::uint64_t id)
{
    const Item *shown = item(id);
    if (!shown)
        return;
    const RemoveChoice choice = m_services.prompter.askRemove(this, common::toQString(shown->name));
    if (choice == RemoveChoice::Cancel)
        return;
    m_services.queue.remove(id, choice == RemoveChoice::DeleteFile);
    refresh();
}

void DownloadsWindow::openFolder(std::uint64_t id)
{
    if (const Item *shown = item(id))
        m_services.desktop.openFolder(shown->folder);
}

} // namespace downloads
