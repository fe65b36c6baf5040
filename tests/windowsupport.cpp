#include "windowsupport.h"

#include "app/documentlist.h"
#include "app/lister.h"
#include "app/treenodes.h"
#include "catalogue/documentlistmodel.h"
#include "platform/browser/browser.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

namespace {

// The window's child `name`; a missing one ends the test program, as every test needs them.
template <typename T>
T *part(const Tfrm_cache &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the main window has no %s", name);
    return found;
}

} // namespace

WindowParts::WindowParts(Tfrm_cache &w)
    : window(w),
      state(w.state()),
      loader(&w.loader()),
      documents(&w.documents()),
      preview(&w.preview()),
      commands(&w.commands()),
      collectBox(&w.collectBox()),
      saver(&w.saver()),
      columns(&w.columns()),
      entries(&w.entries()),
      frm_find(&w.findForm()),
      ToolBar1(part<QToolBar>(w, "ToolBar1")),
      Image1(part<QLabel>(w, "Image1")),
      lab_collect(part<QLabel>(w, "lab_collect")),
      Tree(part<QTreeWidget>(w, "Tree")),
      Splitter2(part<QSplitter>(w, "Splitter2")),
      lister(part<Lister>(w, "lister")),
      pnl_main(part<QWidget>(w, "pnl_main")),
      Web1(part<Browser>(w, "Web1")),
      editor(part<QPlainTextEdit>(w, "editor")),
      Pop_list(part<QMenu>(w, "Pop_list")),
      Pop_tree(part<QMenu>(w, "Pop_tree")),
      Pop_CollectBox(part<QMenu>(w, "Pop_CollectBox")),
      Pop_save(part<QMenu>(w, "Pop_save")),
      m_sort(part<QMenu>(w, "m_sort")),
      Pop_columns(part<QMenu>(w, "Pop_columns")),
      sortItems(m_sort->actions()),
      ARefresh(part<QAction>(w, "ARefresh")),
      AOpenDoc(part<QAction>(w, "AOpenDoc")),
      ADocinfo(part<QAction>(w, "ADocinfo")),
      ASaveDocas(part<QAction>(w, "ASaveDocas")),
      ASaveWebas(part<QAction>(w, "ASaveWebas")),
      ADeleteDoc(part<QAction>(w, "ADeleteDoc")),
      ASendtoBox(part<QAction>(w, "ASendtoBox")),
      ASelectAll(part<QAction>(w, "ASelectAll")),
      ACopyUrl(part<QAction>(w, "ACopyUrl")),
      AFind(part<QAction>(w, "AFind")),
      AFindInWeb(part<QAction>(w, "AFindInWeb")),
      ASaveAllCollectDoc(part<QAction>(w, "ASaveAllCollectDoc")),
      ARemoveCollectDoc(part<QAction>(w, "ARemoveCollectDoc")),
      AClearCollectDoc(part<QAction>(w, "AClearCollectDoc")),
      Aoffline(part<QAction>(w, "Aoffline")),
      AInternetOption(part<QAction>(w, "AInternetOption")),
      AHelp(part<QAction>(w, "AHelp")),
      AEntryInfo(part<QAction>(w, "AEntryInfo")),
      AExportList(part<QAction>(w, "AExportList")),
      AExportDocs(part<QAction>(w, "AExportDocs")),
      AExportWarc(part<QAction>(w, "AExportWarc")),
      m_viewdoc(part<QAction>(w, "m_viewdoc")),
      m_VsReport(part<QAction>(w, "m_VsReport")),
      m_VsIcon(part<QAction>(w, "m_VsIcon"))
{}

QString WindowParts::StatusText(int panel) const
{
    return part<QLabel>(window, qPrintable(QStringLiteral("sbar%1").arg(panel)))->text();
}

void WindowParts::SetStatusText(int panel, const QString &text)
{
    part<QLabel>(window, qPrintable(QStringLiteral("sbar%1").arg(panel)))->setText(text);
}

QTreeWidgetItem *WindowParts::TreeNode(int absoluteIndex) const
{
    return ::TreeNode(Tree, absoluteIndex);
}

int WindowParts::AbsoluteIndex(const QTreeWidgetItem *node) const
{
    return ::AbsoluteIndex(Tree, node);
}

void SelectRows(Tfrm_cache &window, const QList<int> &rows)
{
    const WindowParts w(window);
    QItemSelectionModel *selection = w.lister->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(w.documents->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

ShownWindow::ShownWindow(const QString &dir, Answerer *answerer)
    : appDir(dir.isEmpty() ? temp.path() : dir), answerer(answerer ? answerer : &boxes)
{}

bool ShownWindow::open(QSize size, const std::function<void(WindowParts &)> &beforeShow)
{
    frm_cache = std::make_unique<Tfrm_cache>(appDir, answerer);
    window = std::make_unique<WindowParts>(*frm_cache);
    frm_cache->resize(size);
    if (beforeShow)
        beforeShow(*window);
    frm_cache->show();
    if (!QTest::qWaitForWindowExposed(frm_cache.get()))
        return false;
    return QTest::qWaitFor([&] { return window->state.tree_ready; });
}

void ShownWindow::close()
{
    window.reset();
    if (frm_cache)
        frm_cache->close();
    frm_cache.reset();
}

QTreeWidgetItem *ShownWindow::hostNode(const QString &caption, int nth) const
{
    QTreeWidgetItem *cache = window->TreeNode(CacheRoot);
    for (int i = 0; i < cache->childCount(); ++i)
        if (cache->child(i)->text(0) == caption && nth-- == 0)
            return cache->child(i);
    return nullptr;
}

bool ShownWindow::selectHost(const QString &caption, int nth)
{
    QTreeWidgetItem *node = hostNode(caption, nth);
    if (node)
        window->Tree->setCurrentItem(node);
    return node != nullptr;
}
