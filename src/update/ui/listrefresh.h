#pragma once

#include "common/result.h"
#include "download/downloaderror.h"
#include "download/proxy.h"
#include "update/manifest.h"

#include <QObject>
#include <filesystem>
#include <functional>
#include <memory>

class QThreadPool;

namespace appearance {
class Notifier;
}
namespace download {
class Download;
}

namespace update {

struct RefreshContext
{
    appearance::Notifier &notifier;
    Fetcher fetch;
    QThreadPool &networkPool; // resolves the list's link; outlives the refresh's tasks
    std::string page; // the manifest page that the version check accepted, UTF-8
    std::filesystem::path programDirectory;
    // Sets the category's version field (which writes the setting).
    std::function<void(int category, const std::string &version)> recordVersion;
    // The proxy of the list's download, asked when it starts; none: the system's.
    std::function<download::ProxySetting()> proxy = {};
};

// One refresh of one category list: the list's share link from the accepted manifest page, its direct link, the
// download beside the old list, the checks against the page's size and SHA-256, and the replacement. The old
// list and version stay unless the new list arrived whole and matches the page.
// Lives as long as its parent (the main window), so closing the update window does not cut it short. It has a
// download object of its own: the user's downloads neither hold it back nor share its progress and completion.
// UI thread only; the download's events reach it through a relay.
class ListRefresh : public QObject
{
    Q_OBJECT

public:
    ListRefresh(RefreshContext context, UpdateOffer offer, QObject *parent);
    ~ListRefresh() override;

    // Resolves the link off the UI thread, then starts the download. Once.
    void start();
    bool started() const { return m_started; }
    // The refresh's own download, for its progress display.
    const download::Download &download() const { return *m_download; }

signals:
    // The download has ended and the user has read the outcome.
    void finished(bool succeeded);

private:
    struct Shared;
    using Outcome = common::Result<std::filesystem::path, download::DownloadError>;
    void startDownload(const std::string &directLink);
    void onEnded(const Outcome &outcome);
    void fail(const std::string &reason); // GBK

    RefreshContext m_context;
    UpdateOffer m_offer;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<download::Download> m_download; // stops its task when the refresh goes
    bool m_started = false;
};

} // namespace update
