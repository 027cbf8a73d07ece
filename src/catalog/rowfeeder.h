#pragma once

#include "catalog/catalogmodel.h"

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>

namespace catalog {

// Fills a CatalogModel from work done on a pool thread. The model is emptied at once; the rows the work hands on
// while it runs reach the model from the event loop, at most BatchRows at a time (a quarter of the rows already
// there, when that is more), so they appear as they are
// found and the window keeps painting however many arrive. A new start() supersedes the older work: its rows
// never reach the model, and its sink tells it to stop, as it tells the work of a feeder that is gone. UI thread
// only; the work's sink is the one thing another thread calls.
class RowFeeder : public QObject
{
    Q_OBJECT

public:
    using Rows = std::vector<CatalogModel::Row>;
    // Takes the work's rows, in order, on the work's thread. False once nobody wants them any more: the work
    // should stop.
    using RowSink = std::function<bool(Rows rows)>;
    using Producer = std::function<void(const RowSink &hand)>;
    static constexpr std::size_t BatchRows = 2000;

    explicit RowFeeder(CatalogModel *model, QObject *parent = nullptr);
    ~RowFeeder() override;

    void start(Producer produce);
    // Ends the newest work: none of its rows reach the model any more, which is emptied, and no finished() comes
    // for it.
    void stop();

signals:
    // Every row of the newest work is in the model.
    void finished();

private:
    struct Inbox;
    void feed(const std::shared_ptr<Inbox> &inbox);
    void dropBacklog();
    std::size_t batchRows() const;
    // Tells a work that its rows are no longer wanted.
    static void drop(const std::shared_ptr<Inbox> &inbox);

    QPointer<CatalogModel> m_model;
    std::shared_ptr<Inbox> m_inbox; // the newest work's
    std::deque<CatalogModel::Row> m_backlog; // taken from the inbox, not yet in the model
};

} // namespace catalog
