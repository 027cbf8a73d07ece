#include "platform/desktop.h"

#include "common/qtext.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

namespace platform {

namespace {

class QtDesktop final : public Desktop
{
public:
    bool openAddress(std::string_view gbkAddress) override
    {
        // The catalog hands addresses over with their leading blank; the shell sees the address itself.
        const QString address = common::toQString(gbkAddress).trimmed();
        if (address.isEmpty())
            return false;
        return QDesktopServices::openUrl(QUrl::fromUserInput(address));
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
