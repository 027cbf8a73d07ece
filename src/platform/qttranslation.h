#pragma once

class QCoreApplication;

namespace platform {

// Loads Qt's own Chinese texts (file dialogs, context menus, standard buttons) from the system's Qt
// translations, so they read 打开 and 取消 like the rest of the program. False when they are not installed
// (Debian: qt6-translations-l10n); Qt then speaks English. UI thread, once, after the application exists.
bool installQtTranslation(QCoreApplication &app);

} // namespace platform
