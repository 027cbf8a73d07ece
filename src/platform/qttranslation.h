#pragma once

class QCoreApplication;
class QTranslator;

namespace platform {

// Loads Qt's own Chinese texts (file dialogs, context menus, standard buttons) from the system's Qt
// translations, so they read 打开 and 取消 like the rest of the program. Returns the installed translator, owned
// by `app`, or nullptr when the translations are not installed (Debian: qt6-translations-l10n); Qt then speaks
// English. UI thread, once, after the application exists.
QTranslator *installQtTranslation(QCoreApplication &app);

} // namespace platform
