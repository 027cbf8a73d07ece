#include "update/ui/listrefresh.h"

#include "appearance/notifier.h"
#include "catalog/category.h"
#include "common/gbk.h"
#include "common/networkpool.h"
#include "common/relay.h"
#include "download/conversions.h"
#include "download/download.h"
#include "download/sharepage.h"
#include "platform/paths.h"
#include "update/listfile.h"

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
    const std::filesystem::path list
        = catalog::categoryFile(m_context.programDirectory, catalog::category(m_offer.category));
    const std::filesystem::path pending = pendingListPath(list);
    std::error_code ignored;
    std::filesystem::create_directories(list.parent_path(), ignored);
    std::filesystem::remove(pending, ignored); // a leftover of an earlier refresh of ours
    const std::shared_ptr<Shared> shared = m_shared;
    const download::TaskParam param = download::toolTaskParam(directLink, platform::gbkPath(pending),
        [shared](int code, download::Download *, double, int, download::Download *) {
            if (code == download::EventEnded)
                shared->relay.post([](ListRefresh &refresh) { refresh.onEnded(); });
            return 0;
        });
    // Refused while another download runs: no event will ever come for this refresh.
    if (!m_context.download.Start(param))
        deleteLater();
}

void ListRefresh::onEnded()
{
    const std::filesystem::path list
        = catalog::categoryFile(m_context.programDirectory, catalog::category(m_offer.category));
    const bool arrived = m_context.download.lastSucceeded() && m_context.download.lastPath() == pendingListPath(list);
    const bool replaced = arrived && replaceList(pendingListPath(list), list);
    if (replaced) {
        m_context.recordVersion(m_offer.category, m_offer.remoteVersion);
        m_context.notifier.showMessage(gbk("更新完毕!"), true);
    } else {
        std::error_code ignored;
        std::filesystem::remove(pendingListPath(list), ignored);
        m_context.notifier.showMessage(
            gbk("更新失败：新的列表没有下载完整，原来的列表没有改动，下次启动时会再次提示更新。"), true);
    }
    emit finished(replaced);
}

} // namespace update
