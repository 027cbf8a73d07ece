#pragma once

#include <QIdentityProxyModel>

namespace catalog {

// Shows a catalog row's state image as the icon of its first column, and the name of a row that the last refresh
// of its list brought in bold. UI thread only.
class StateImageProxy : public QIdentityProxyModel
{
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
};

} // namespace catalog
