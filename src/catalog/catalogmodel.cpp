#include "catalog/catalogmodel.h"

#include "catalog/loader.h"
#include "common/qtext.h"

#include <QThreadPool>
#include <array>
#include <memory>

namespace catalog {

namespace {

struct Column
{
    const char *caption; // UTF-8
    int width;
};

constexpr std::array<Column, 5> CategoryColumns{{
    {"软件名称", 120},
    {" 文件大小", 65},
    {" 分享时间", 92},
    {" 下载地址", 259},
    {" 是否安全", 75},
}};
constexpr std::array<Column, 2> SearchColumns{{
    {"软件名称", 120},
    {" 下载地址", 165},
}};

const Column *columnAt(CatalogModel::Layout layout, int section)
{
    if (section < 0)
        return nullptr;
    const auto index = static_cast<std::size_t>(section);
    if (layout == CatalogModel::Layout::Category)
        return index < CategoryColumns.size() ? &CategoryColumns[index] : nullptr;
    return index < SearchColumns.size() ? &SearchColumns[index] : nullptr;
}

} // namespace

void discardRows(std::vector<CatalogModel::Row> rows)
{
    // Freeing a million rows' texts holds the event loop for a tenth of a second: a pool thread does it instead.
    if (rows.size() < 10000)
        return;
    auto doomed = std::make_shared<std::vector<CatalogModel::Row>>(std::move(rows));
    QThreadPool::globalInstance()->start([doomed] { doomed->clear(); });
}

CatalogModel::CatalogModel(Layout layout, QObject *parent)
    : QAbstractTableModel(parent)
    , m_layout(layout)
{
}

int CatalogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CatalogModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_layout == Layout::Category ? static_cast<int>(CategoryColumns.size())
                                        : static_cast<int>(SearchColumns.size());
}

QVariant CatalogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return common::toQString(text(index.row(), index.column()));
    if (role == StateImageRole)
        return row(index.row()).stateImage;
    if (role == NewRole)
        return row(index.row()).isNew;
    return {};
}

QVariant CatalogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const Column *column = orientation == Qt::Horizontal ? columnAt(m_layout, section) : nullptr;
    if (!column)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(column->caption);
    if (role == ColumnWidthRole)
        return column->width;
    return {};
}

void CatalogModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    std::vector<Row> old;
    old.swap(m_rows);
    endResetModel();
    discardRows(std::move(old));
}

void CatalogModel::appendRows(std::vector<Row> rows)
{
    if (rows.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
}

void CatalogModel::reorder(const std::vector<std::uint32_t> &order)
{
    Q_ASSERT(order.size() == m_rows.size());
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (const std::uint32_t from : order)
        sorted.push_back(std::move(m_rows[from]));
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> place(order.size());
        for (std::size_t to = 0; to < order.size(); ++to)
            place[order[to]] = static_cast<int>(to);
        QModelIndexList after;
        for (const QModelIndex &index : before)
            after.append(this->index(place[static_cast<std::size_t>(index.row())], index.column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::string CatalogModel::text(int rowIndex, int column) const
{
    return std::string(cell(rowIndex, column));
}

std::string_view CatalogModel::cell(int rowIndex, int column) const
{
    if (rowIndex < 0 || rowIndex >= rowCount() || column < 0)
        return {};
    const Row &r = row(rowIndex);
    return r.text(static_cast<std::size_t>(column));
}

CatalogModel::Row CatalogModel::categoryRow(const CatalogItem &item)
{
    return Row{{item.name, item.size, item.time, item.address, item.tag}, 0};
}

} // namespace catalog
