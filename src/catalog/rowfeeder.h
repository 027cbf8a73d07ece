#pragma once

#include "catalog/catalogmodel.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace catalog {

// Fills a CatalogModel from work done on a pool thread: the model is emptied at once, the rows are computed
// off the UI thread, then handed to the model in batches from the event loop so the window keeps painting
// while a large list arrives. A new start() supersedes an older load: its rows never reach the model.
// UI thread only.
class RowFeeder : public QObject
{
    Q_OBJECT

public:
    using Producer = std::function<std::vector<CatalogModel::Row>()>;
    static constexpr std::size_t BatchRows = 2000;

    explicit RowFeeder(CatalogModel *model, QObject *parent = nullptr);
    ~RowFeeder() override;

    void start(Producer produce);
    bool busy() const { return m_busy; }

signals:
    // Every row of the newest load is in the model.
    void finished();

private:
    void feedBatch(quint64 generation, std::shared_ptr<std::vector<CatalogModel::Row>> rows, std::size_t from);

    QPointer<CatalogModel> m_model;
    quint64 m_generation = 0;
    bool m_busy = false;
};

} // namespace catalog
