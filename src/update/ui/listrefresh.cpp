#include "update/ui/listrefresh.h"

#include "appearance/notifier.h"
#include "catalog/category.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "common/relay.h"
#include "download/conversions.h"
#include "download/download.h"
#include "download/downloaderror.h"
#include "download/sharepage.h"
#include "update/listfile.h"
#include "update/newrecords.h"

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
{
}

ListRefresh::~ListRefresh() = default;

void ListRefresh::start()
{
    if (m_started)
        return;
    m_started = true;
    auto *watcher = new QFutureWatcher<std::string>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        startDownload(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(&common::networkPool(),
        [fetch = m_context.fetch, url = m_context.manifestUrl, label = addressLabel(m_offer.category)] {
            const std::string address = readManifestField(fetch, url, label);
            const std::string page = download::Utf8ToGb18030(fetch(download::secondPageAddress(address)));
            return download::extractDirectLink(common::untilZero(page));
        }));
}

void ListRefresh::startDownload(const std::string &directLink)
{
    if (directLink.empty()) {
        // No task is started for nothing: the old list stays, and the user learns why.
        fail(download::describeDownloadError(
            {download::DownloadError::Kind::Address, false, 0, gbk("分享页面中没有找到新列表的下载直链")}));
        return;
    }
    const std::filesystem::path list
        = catalog::categoryFile(m_context.programDirectory, catalog::category(m_offer.category));
    const std::filesystem::path pending = pendingListPath(list);
    std::error_code ignored;
    std::filesystem::create_directories(list.parent_path(), ignored);
    std::filesystem::remove(pending, ignored); // a leftover of an earlier refresh of ours
    const std::shared_ptr<Shared> shared = m_shared;
    const download::TaskParam param = download::toolTaskParam(
        directLink, pending, [shared](int code, download::Download *task, double, int, download::Download *) {
            if (code == download::EventEnded) {
                const auto outcome
                    = task->lastError() ? Outcome(common::unexpected(*task->lastError())) : Outcome(task->lastPath());
                shared->relay.post([outcome](ListRefresh &refresh) { refresh.onEnded(outcome); });
            }
            return 0;
        });
    // Refused while another download runs: no event will ever come for this refresh.
    if (!m_context.download.Start(param))
        deleteLater();
}

void ListRefresh::onEnded(const Outcome &outcome)
{
    const catalog::Category &category = catalog::category(m_offer.category);
    const std::filesystem::path list = catalog::categoryFile(m_context.programDirectory, category);
    if (!outcome.has_value())
        return fail(download::describeDownloadError(outcome.error()));
    // The new list may have arrived under a numbered name when "<list>.new" was taken. A server that answers
    // with its error page, or with another file, must not take the old list's place.
    const bool isList = isCategoryList(outcome.value(), category);
    if (isList) // marks what the new list brings; a failure leaves no marks, the refresh goes on
        static_cast<void>(rememberNewRecords(list, outcome.value(), category));
    if (!isList || !replaceList(outcome.value(), list)) {
        std::error_code ignored;
        std::filesystem::remove(outcome.value(), ignored);
        return fail(isList ? download::describeDownloadError(
                        {download::DownloadError::Kind::Disk, false, 0, gbk("新的列表无法替换原来的列表")})
                           : gbk("下载到的文件不是分类列表"));
    }
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
