#pragma once

#include "catalog/catalogrow.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace catalog {

struct CatalogItem;

// The rows of one list view: a category view (five columns) or the search result list (two columns).
// Texts are kept as GBK and turned into QString only when the view asks. UI thread only.
class CatalogModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum class Layout
    {
        Category,
        Search
    };
    // State image index of a row (0 for category rows, the category's search icon for search rows).
    static constexpr int StateImageRole = Qt::UserRole + 1;
    // Header data: the column's width in pixels.
    static constexpr int ColumnWidthRole = Qt::UserRole + 2;
    // Whether the last refresh of the row's list brought the row.
    static constexpr int NewRole = Qt::UserRole + 3;

    using Row = CatalogRow;

    explicit CatalogModel(Layout layout, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // DisplayRole gives the caption, ColumnWidthRole the column width in pixels.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void clear();
    void appendRows(std::vector<Row> rows);
    // Puts the rows in the order `order` gives: row i becomes the row that was order[i]. `order` holds every
    // row once. Selections and other persistent indexes follow their rows.
    void reorder(const std::vector<std::uint32_t> &order);
    const Row &row(int index) const { return m_rows[static_cast<std::size_t>(index)]; }
    // GBK text of one cell; empty outside the rows.
    std::string text(int row, int column) const;
    // The same without a copy; valid until the rows change.
    std::string_view cell(int row, int column) const;
    Layout layout() const { return m_layout; }

    static Row categoryRow(const CatalogItem &item);

private:
    Layout m_layout;
    std::vector<Row> m_rows;
};

// Frees rows that are no longer wanted; many of them off the calling thread, so that the event loop goes on.
void discardRows(std::vector<CatalogModel::Row> rows);

} // namespace catalog
