#include "platform/desktop.h"

#include "common/qtext.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>

namespace platform {

namespace {

class QtDesktop final : public Desktop
{
public:
    bool openAddress(std::string_view gbkAddress) override
    {
        // The catalog hands addresses over with their leading blank; the system sees the address itself, letter
        // for letter. A URL parser would take a download-manager link's Base64 for a host name and lower-case
        // it, so the text goes to xdg-open as it is.
        const QString address = common::toQString(gbkAddress).trimmed();
        if (address.isEmpty())
            return false;
        return QProcess::startDetached(QStringLiteral("xdg-open"), {address});
    }

    bool openFolder(const std::filesystem::path &folder) override
    {
        // The path as the file system names it, so a name GBK cannot spell still opens its own folder.
        if (folder.empty())
            return false;
        return QProcess::startDetached(QStringLiteral("xdg-open"), {QFile::decodeName(folder.native().c_str())});
    }

    void setClipboardText(std::string_view gbkText) override
    {
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(common::toQString(gbkText));
    }
};

} // namespace

std::unique_ptr<Desktop> createDesktop()
{
    return std::make_unique<QtDesktop>();
}

} // namespace platform
