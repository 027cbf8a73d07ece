#include "catalog/ui/stateimageproxy.h"

#include "catalog/catalogmodel.h"

#include <QIcon>
#include <array>

namespace catalog {

QVariant StateImageProxy::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DecorationRole || index.column() != 0)
        return QIdentityProxyModel::data(index, role);
    static const std::array<QIcon, 4> icons{QIcon(QStringLiteral(":/kavo/state0.png")),
        QIcon(QStringLiteral(":/kavo/state1.png")), QIcon(QStringLiteral(":/kavo/state2.png")),
        QIcon(QStringLiteral(":/kavo/state3.png"))};
    const int state = QIdentityProxyModel::data(index, CatalogModel::StateImageRole).toInt();
    return state >= 0 && state < static_cast<int>(icons.size()) ? icons[static_cast<std::size_t>(state)] : QVariant();
}

} // namespace catalog
