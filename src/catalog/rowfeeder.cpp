#include "catalog/rowfeeder.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace catalog {

using Rows = std::vector<CatalogModel::Row>;

RowFeeder::RowFeeder(CatalogModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
}

RowFeeder::~RowFeeder() = default;

void RowFeeder::start(Producer produce)
{
    const quint64 generation = ++m_generation;
    m_busy = true;
    if (m_model)
        m_model->clear();
    // The worker sees nothing but its own producer; the watcher hands the result back on this thread.
    auto *watcher = new QFutureWatcher<Rows>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        feedBatch(generation, std::make_shared<Rows>(watcher->future().takeResult()), 0);
    });
    watcher->setFuture(QtConcurrent::run(std::move(produce)));
}

void RowFeeder::feedBatch(quint64 generation, std::shared_ptr<Rows> rows, std::size_t from)
{
    if (generation != m_generation || !m_model)
        return;
    const std::size_t to = std::min(rows->size(), from + BatchRows);
    Rows batch(std::make_move_iterator(rows->begin() + static_cast<std::ptrdiff_t>(from)),
        std::make_move_iterator(rows->begin() + static_cast<std::ptrdiff_t>(to)));
    m_model->appendRows(std::move(batch));
    if (to < rows->size()) {
        QTimer::singleShot(0, this, [this, generation, rows, to] { feedBatch(generation, rows, to); });
        return;
    }
    m_busy = false;
    emit finished();
}

} // namespace catalog
