#pragma once
// Choosing which caches the window shows: "打开缓存..." picks a folder to add, the submenu
// "缓存来源" lists the caches found on this machine as check items (shown in the window or
// not), and "打开全部缓存" adds every one of them. The choice is reported, not acted on: the
// window opens or closes the stores and reloads.

#include "stores/storeerror.h"

#include <QObject>
#include <QString>

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QWidget;

class StoreChooser : public QObject {
    Q_OBJECT
public:
    // Adds its two items to `fileMenu`; `dialogParent` owns the folder dialog.
    StoreChooser(QMenu *fileMenu, QWidget *dialogParent);

    QAction *openAction() const { return m_open; }
    QAction *openAllAction() const { return m_openAll; }
    QMenu *sourcesMenu() const { return m_sources; }
    // The stores shown now, checked in the list of sources.
    void setShown(const QStringList &folders) { m_shown = folders; }

    // For tests: answers the folder dialog instead of asking the user.
    void setFolderDialog(std::function<QString()> dialog) { m_folderDialog = std::move(dialog); }

public slots:
    void OpenStoreExecute();

signals:
    // A folder to add to the window.
    void storeChosen(const QString &path);
    // A found store's check item was turned: `shown` whether the window is to show it.
    void storeToggled(const QString &path, bool shown);
    // Every store found, to be shown.
    void allStoresChosen(const QStringList &paths);

private:
    void fillSources();

    QWidget *m_dialogParent;
    QAction *m_open;
    QAction *m_openAll;
    QMenu *m_sources;
    QStringList m_shown;
    std::function<QString()> m_folderDialog;
};

// The folders of the stores the window showed last, when it showed several, kept beside
// last-store ($XDG_CONFIG_HOME/tidewrack/open-stores, one a line); empty when there are none.
std::vector<std::string> RememberedStoreSet();
// Keeps `folders` for the next start, or says why the file could not be written.
StoreResult RememberStoreSet(const std::vector<std::string> &folders);
