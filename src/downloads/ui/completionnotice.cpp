#include "downloads/ui/completionnotice.h"

#include "common/qtext.h"
#include "platform/desktop.h"

namespace downloads {

CompletionNotice::CompletionNotice(Show show, platform::Desktop &desktop, QObject *parent)
    : QObject(parent)
    , m_show(std::move(show))
    , m_desktop(desktop)
{
}

void CompletionNotice::downloadEnded(const Item &item)
{
    m_folder = item.folder;
    const QString name = common::toQString(item.name);
    if (item.state == State::Finished)
        m_show(QStringLiteral("下载完成"), QStringLiteral("%1 已下载完成，点击打开所在文件夹。").arg(name));
    else
        m_show(QStringLiteral("下载失败"), QStringLiteral("%1 下载失败：%2").arg(name, common::toQString(item.reason)));
}

void CompletionNotice::clicked()
{
    if (!m_folder.empty())
        m_desktop.openFolder(m_folder);
}

} // namespace downloads
