#pragma once

#include "downloads/queue.h"

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

namespace platform {
class Desktop;
}

namespace downloads {

// The desktop notice at the end of a download: the file's name and whether it finished or failed; a click on the
// notice opens the download's folder. `show` puts a notice up (the tray icon's message in the program); the
// owner calls clicked() when the user clicks it. UI thread only.
class CompletionNotice : public QObject
{
    Q_OBJECT

public:
    using Show = std::function<void(const QString &title, const QString &text)>;
    CompletionNotice(Show show, platform::Desktop &desktop, QObject *parent = nullptr);

    void downloadEnded(const Item &item);
    // Opens the folder of the last notice shown; nothing before the first.
    void clicked();

private:
    Show m_show;
    platform::Desktop &m_desktop;
    std::filesystem::path m_folder;
};

} // namespace downloads
