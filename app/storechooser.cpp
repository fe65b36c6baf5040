#include "storechooser.h"

#include "stores/storeregistry.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>

StoreChooser::StoreChooser(QMenu *fileMenu, QWidget *dialogParent) : QObject(dialogParent), m_dialogParent(dialogParent)
{
    m_open = new QAction(QStringLiteral("打开缓存(&C)..."), this);
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

    QAction *first = fileMenu->actions().value(0);
    fileMenu->insertAction(first, m_open);
    fileMenu->insertMenu(first, m_sources);
    fileMenu->insertSeparator(first);
}

void StoreChooser::OpenStoreExecute()
{
    const QString folder = m_folderDialog
        ? m_folderDialog()
        : QFileDialog::getExistingDirectory(m_dialogParent, QStringLiteral("打开缓存"), m_current);
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
        item->setChecked(path == m_current);
        connect(item, &QAction::triggered, this, [this, path] { emit storeChosen(path); });
    }
    if (found.empty())
        m_sources->addAction(QStringLiteral("（这台计算机上没有找到缓存）"))->setEnabled(false);
}
