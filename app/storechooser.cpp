#include "storechooser.h"

#include "stores/savefile.h"
#include "stores/storeregistry.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>

StoreChooser::StoreChooser(QMenu *fileMenu, QWidget *dialogParent) : QObject(dialogParent), m_dialogParent(dialogParent)
{
    m_open = new QAction(QStringLiteral("打开缓存(&K)..."), this);
    m_open->setObjectName(QStringLiteral("AOpenStore"));
    m_open->setToolTip(QStringLiteral("打开一个缓存文件夹"));
    connect(m_open, &QAction::triggered, this, &StoreChooser::OpenStoreExecute);
    m_sources = new QMenu(QStringLiteral("缓存来源(&U)"), dialogParent);
    m_sources->setObjectName(QStringLiteral("m_sources"));
    m_sources->setToolTipsVisible(true);
    // Looked up each time the menu opens: browsers come and go while the program runs.
    connect(m_sources, &QMenu::aboutToShow, this, &StoreChooser::fillSources);
    // An empty menu cannot be opened; the first look fills it.
    fillSources();
    m_openAll = new QAction(QStringLiteral("打开全部缓存"), this);
    m_openAll->setObjectName(QStringLiteral("AOpenAllStores"));
    m_openAll->setToolTip(QStringLiteral("在窗口中显示这台计算机上找到的每个缓存"));
    connect(m_openAll, &QAction::triggered, this, [this] {
        QStringList paths;
        for (const FoundStore &store : FindStores(StoreSearchRoots::fromEnvironment()))
            paths << QString::fromStdString(store.path);
        if (!paths.isEmpty())
            emit allStoresChosen(paths);
    });

    QAction *first = fileMenu->actions().value(0);
    fileMenu->insertAction(first, m_open);
    fileMenu->insertMenu(first, m_sources);
    fileMenu->insertAction(first, m_openAll);
    fileMenu->insertSeparator(first);
}

void StoreChooser::OpenStoreExecute()
{
    const QString folder = m_folderDialog
        ? m_folderDialog()
        : QFileDialog::getExistingDirectory(m_dialogParent, QStringLiteral("打开缓存"), m_shown.value(0));
    if (!folder.isEmpty())
        emit storeChosen(folder);
}

void StoreChooser::fillSources()
{
    m_sources->clear();
    const std::vector<FoundStore> found = FindStores(StoreSearchRoots::fromEnvironment());
    for (const FoundStore &store : found) {
        const QString path = QString::fromStdString(store.path);
        QAction *item = m_sources->addAction(QString::fromStdString(store.name));
        item->setToolTip(path);
        item->setCheckable(true);
        item->setChecked(m_shown.contains(path));
        connect(item, &QAction::triggered, this, [this, path](bool checked) { emit storeToggled(path, checked); });
    }
    if (found.empty())
        m_sources->addAction(QStringLiteral("（这台计算机上没有找到缓存）"))->setEnabled(false);
}

namespace {

QString storeSetFile()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/tidewrack/open-stores");
}

} // namespace

std::vector<std::string> RememberedStoreSet()
{
    std::vector<std::string> folders;
    QFile file(storeSetFile());
    // A regular file only, and a small one: anything else is no remembered set.
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return folders;
    const QByteArray text = file.read(64 * 1024);
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith('/'))
            folders.push_back(line.toStdString());
    return folders;
}

StoreResult RememberStoreSet(const std::vector<std::string> &folders)
{
    const QString path = storeSetFile();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return StoreResult::failure(
            StoreError::Denied, QFile::encodeName(QFileInfo(path).path()).toStdString() + ": cannot make the folder");
    QByteArray bytes;
    for (const std::string &folder : folders)
        bytes += QByteArray::fromStdString(folder) + '\n';
    return SaveWholeFile(path, bytes);
}
