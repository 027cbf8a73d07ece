#include "catalog/rowfeeder.h"

#include "common/relay.h"

#include <QThreadPool>
#include <QTimer>
#include <mutex>

namespace catalog {

// Rows on their way from one work to the feeder.
struct RowFeeder::Inbox
{
    std::mutex mutex;
    Rows rows; // handed on, not yet taken
    bool done = false; // the work has returned
    bool awaited = false; // the feeder will look again without being called
    bool dropped = false; // a newer work took the feeder's place, or the feeder is gone
};

RowFeeder::RowFeeder(CatalogModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
}

void RowFeeder::drop(const std::shared_ptr<Inbox> &inbox)
{
    if (!inbox)
        return;
    const std::lock_guard lock(inbox->mutex);
    inbox->dropped = true;
}

RowFeeder::~RowFeeder()
{
    drop(m_inbox);
}

void RowFeeder::start(Producer produce)
{
    drop(m_inbox);
    m_inbox = std::make_shared<Inbox>();
    dropBacklog();
    if (m_model)
        m_model->clear();
    // The work sees its own inbox and a relay to this feeder, nothing else of it. It calls the feeder only when
    // the feeder is not going to look anyway, so calls never pile up in the event queue.
    const auto deliver = [inbox = m_inbox, relay = common::Relay<RowFeeder>(this)](Rows rows, bool done) {
        bool call = false;
        {
            const std::lock_guard lock(inbox->mutex);
            if (inbox->dropped)
                return false;
            inbox->rows.insert(
                inbox->rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
            inbox->done = inbox->done || done;
            call = !std::exchange(inbox->awaited, true);
        }
        if (call)
            relay.post([inbox](RowFeeder &feeder) { feeder.feed(inbox); });
        return true;
    };
    QThreadPool::globalInstance()->start([produce = std::move(produce), deliver] {
        produce([&deliver](Rows rows) { return deliver(std::move(rows), false); });
        deliver({}, true);
    });
}

std::size_t RowFeeder::batchRows() const
{
    // A tree view lays out all its rows again after every insertion: batches that grow with the rows shown keep a
    // million rows from being laid out five hundred times.
    return std::max(BatchRows, m_model ? static_cast<std::size_t>(m_model->rowCount()) / 4 : 0);
}

void RowFeeder::dropBacklog()
{
    discardRows(Rows(std::make_move_iterator(m_backlog.begin()), std::make_move_iterator(m_backlog.end())));
    m_backlog.clear();
}

void RowFeeder::stop()
{
    drop(m_inbox);
    m_inbox.reset();
    dropBacklog();
    if (m_model)
        m_model->clear();
}

void RowFeeder::feed(const std::shared_ptr<Inbox> &inbox)
{
    if (inbox != m_inbox || !m_model)
        return;
    bool done = false;
    {
        const std::lock_guard lock(inbox->mutex);
        m_backlog.insert(
            m_backlog.end(), std::make_move_iterator(inbox->rows.begin()), std::make_move_iterator(inbox->rows.end()));
        inbox->rows.clear();
        done = inbox->done;
        inbox->awaited = m_backlog.size() > batchRows();
    }
    const auto batchEnd = m_backlog.begin() + static_cast<std::ptrdiff_t>(std::min(m_backlog.size(), batchRows()));
    m_model->appendRows(Rows(std::make_move_iterator(m_backlog.begin()), std::make_move_iterator(batchEnd)));
    m_backlog.erase(m_backlog.begin(), batchEnd);
    if (!m_backlog.empty())
        QTimer::singleShot(0, this, [this, inbox] { feed(inbox); });
    else if (done)
        emit finished();
}

} // namespace catalog
