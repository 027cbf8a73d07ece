#include "catalog/ui/stateimageproxy.h"

#include "catalog/catalogmodel.h"

#include <QFont>
#include <QIcon>
#include <array>

namespace catalog {

QVariant StateImageProxy::data(const QModelIndex &index, int role) const
{
    if (index.column() != 0)
        return QIdentityProxyModel::data(index, role);
    if (role == Qt::FontRole && QIdentityProxyModel::data(index, CatalogModel::NewRole).toBool()) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DecorationRole)
        return QIdentityProxyModel::data(index, role);
    static const std::array<QIcon, 4> icons{QIcon(QStringLiteral(":/kavo/state0.png")),
        QIcon(QStringLiteral(":/kavo/state1.png")), QIcon(QStringLiteral(":/kavo/state2.png")),
        QIcon(QStringLiteral(":/kavo/state3.png"))};
    const int state = QIdentityProxyModel::data(index, CatalogModel::StateImageRole).toInt();
    return state >= 0 && state < static_cast<int>(icons.size()) ? icons[static_cast<std::size_t>(state)] : QVariant();
}

} // namespace catalog
