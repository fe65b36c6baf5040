#pragma once
// Choosing which cache the window shows: "打开缓存..." picks a folder, and the submenu
// "缓存来源" lists the caches found on this machine. The choice is reported, not acted on:
// the window opens the store and reloads.

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QWidget;

class StoreChooser : public QObject {
    Q_OBJECT
public:
    // Adds its two items to `fileMenu`; `dialogParent` owns the folder dialog.
    StoreChooser(QMenu *fileMenu, QWidget *dialogParent);

    QAction *openAction() const { return m_open; }
    QMenu *sourcesMenu() const { return m_sources; }
    // The store shown now, marked in the list of sources.
    void setCurrent(const QString &folder) { m_current = folder; }

    // For tests: answers the folder dialog instead of asking the user.
    void setFolderDialog(std::function<QString()> dialog) { m_folderDialog = std::move(dialog); }

public slots:
    void OpenStoreExecute();

signals:
    void storeChosen(const QString &path);

private:
    void fillSources();

    QWidget *m_dialogParent;
    QAction *m_open;
    QMenu *m_sources;
    QString m_current;
    std::function<QString()> m_folderDialog;
};
