#pragma once
// Qt's own texts (the standard buttons of message boxes, the file dialogs, the standard
// context menus, the preview's page menu) in Simplified Chinese, as the rest of the interface
// is, whatever language the desktop speaks.

// Loads Qt's zh_CN translations into the application, once; call once the application
// object exists. False when Qt's own catalogue is not installed (Debian:
// qt6-translations-l10n); Qt then speaks English and nothing else changes.
bool InstallQtChineseTranslations();
