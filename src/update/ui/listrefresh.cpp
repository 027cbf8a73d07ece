#include "update/ui/listrefresh.h"

#include "appearance/notifier.h"
#include "catalog/category.h"
#include "common/gbk.h"
#include "common/relay.h"
#include "download/conversions.h"
#include "download/download.h"
#include "download/downloaderror.h"
#include "download/sharepage.h"
#include "update/listfile.h"
#include "update/refresh.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace update {

using common::gbk;

struct ListRefresh::Shared
{
    explicit Shared(ListRefresh *owner)
        : relay(owner)
    {
    }
    common::Relay<ListRefresh> relay;
};

ListRefresh::ListRefresh(RefreshContext context, UpdateOffer offer, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_offer(std::move(offer))
    , m_shared(std::make_shared<Shared>(this))
    , m_download(std::make_unique<download::Download>())
{
}

ListRefresh::~ListRefresh() = default;

void ListRefresh::start()
{
    if (m_started)
        return;
    m_started = true;
    using Link = common::Result<std::string, std::string>;
    auto *watcher = new QFutureWatcher<Link>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        const Link link = watcher->result();
        // No task is started for nothing: the old list stays, and the user learns why.
        if (!link.has_value())
            return fail(link.error());
        startDownload(link.value());
    });
    watcher->setFuture(QtConcurrent::run(
        &m_context.networkPool, [fetch = m_context.fetch, page = m_context.page, category = m_offer.category] {
            return resolveListLink(page, category, fetch);
        }));
}

void ListRefresh::startDownload(const std::string &directLink)
{
    const std::filesystem::path list
        = catalog::categoryFile(m_context.programDirectory, catalog::category(m_offer.category));
    const auto pending = clearPendingList(list);
    if (!pending.has_value())
        return fail(pending.error());
    const std::shared_ptr<Shared> shared = m_shared;
    const download::ProxySetting proxy = m_context.proxy ? m_context.proxy() : download::ProxySetting();
    const download::TaskParam param = listTaskParam(
        directLink, pending.value(), m_context.page, m_offer.category, m_context.fetch,
        [shared](int code, download::Download *task, double, int, download::Download *) {
            if (code == download::EventEnded) {
                const auto outcome
                    = task->lastError() ? Outcome(common::unexpected(*task->lastError())) : Outcome(task->lastPath());
                shared->relay.post([outcome](ListRefresh &refresh) { refresh.onEnded(outcome); });
            }
            return 0;
        },
        proxy);
    // Only a task that could not be created refuses: no event will ever come for it.
    if (!m_download->Start(param))
        fail(download::describeDownloadError(
            {download::DownloadError::Kind::Network, false, 0, gbk("无法启动下载任务")}));
}

void ListRefresh::onEnded(const Outcome &outcome)
{
    const catalog::Category &category = catalog::category(m_offer.category);
    const std::filesystem::path list = catalog::categoryFile(m_context.programDirectory, category);
    if (!outcome.has_value())
        return fail(download::describeDownloadError(outcome.error()));
    // The new list may have arrived under a numbered name when "<list>.new" was taken. A server that answers
    // with its error page, another file or another version of the list must not take the old list's place.
    const auto installed
        = installList(outcome.value(), list, category, listExpectation(m_context.page, m_offer.category));
    if (!installed.has_value())
        return fail(installed.error());
    m_context.recordVersion(m_offer.category, m_offer.remoteVersion);
    m_context.notifier.showMessage(gbk("更新完毕!"), true);
    emit finished(true);
}

void ListRefresh::fail(const std::string &reason)
{
    m_context.notifier.showMessage(
        gbk("更新失败：") + reason + gbk("。原来的列表没有改动，下次启动时会再次提示更新。"), true);
    emit finished(false);
}

} // namespace update
