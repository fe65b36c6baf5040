#include "concernsupport.h"

#include "app/lister.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "windows/fonts.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

Panels::Panels()
    : Tree(named(new QTreeWidget(&host), "Tree")),
      lister(named(new Lister(&host), "lister")),
      bar(named(new QStatusBar(&host), "sbar")),
      status(bar),
      saver(&host, answerer),
      loader(state, Tree, status),
      documents(state, lister, Tree, status)
{
    host.setFont(InterfaceFont()); // as the window has it
    Tree->setHeaderHidden(true);
    auto *column = new QVBoxLayout(&host);
    auto *body = new QHBoxLayout;
    body->addWidget(Tree);
    body->addWidget(lister, 1);
    column->addLayout(body, 1);
    column->addWidget(bar);
    host.resize(700, 400);
    QObject::connect(Tree, &QTreeWidget::currentItemChanged, &documents, &DocumentList::TreeChange,
                     Qt::DirectConnection);
    QObject::connect(&loader, &CatalogueLoader::catalogueCleared, &documents, &DocumentList::catalogueCleared,
                     Qt::DirectConnection);
}

Panels::~Panels() = default;

bool Panels::open()
{
    host.resize(900, 600);
    host.show();
    if (!QTest::qWaitForWindowExposed(&host))
        return false;
    load();
    return state.tree_ready;
}

void Panels::show(int absoluteIndex)
{
    Tree->setCurrentItem(node(absoluteIndex));
}

QTreeWidgetItem *Panels::node(int absoluteIndex) const
{
    return TreeNode(Tree, absoluteIndex);
}

void Panels::select(const QList<int> &rows)
{
    QItemSelectionModel *selection = lister->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(documents.model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
