#pragma once
// The main window as its tests reach it: the controls by their object names (as any tool
// looking at the window would), the lists and the concerns through the window's accessors.

#include "answering.h"
#include "app/mainwindow.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <initializer_list>
#include <memory>

class Browser;
class Lister;
class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

struct WindowParts {
    explicit WindowParts(Tfrm_cache &window);

    Tfrm_cache &window;
    CatalogueState &state;
    CatalogueLoader *loader;
    DocumentList *documents;
    PreviewPane *preview;
    DocumentCommands *commands;
    CollectBox *collectBox;
    DocumentSaver *saver;
    ListColumns *columns;
    EntryCommands *entries;
    Tfrm_find *frm_find;

    QToolBar *ToolBar1;
    QLabel *Image1;
    QLabel *lab_collect;
    QTreeWidget *Tree;
    QSplitter *Splitter2;
    Lister *lister;
    QWidget *pnl_main;
    Browser *Web1;
    QPlainTextEdit *editor;
    QMenu *Pop_list, *Pop_tree, *Pop_CollectBox, *Pop_save, *m_sort, *Pop_columns;
    QList<QAction *> sortItems; // the items of m_sort
    QAction *ARefresh, *AOpenDoc, *ADocinfo, *ASaveDocas, *ASaveWebas, *ADeleteDoc, *ASendtoBox, *ASelectAll, *ACopyUrl,
        *AFind, *AFindInWeb, *ASaveAllCollectDoc, *ARemoveCollectDoc, *AClearCollectDoc, *Aoffline, *AInternetOption,
        *AHelp, *AEntryInfo, *AExportList, *AExportDocs, *AExportWarc, *m_viewdoc, *m_VsReport, *m_VsIcon;

    const Tsettingdata &settings() const { return window.settings(); }
    // Panel `panel` of the status bar sbar.
    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString &text);
    QTreeWidgetItem *TreeNode(int absoluteIndex) const;
    int AbsoluteIndex(const QTreeWidgetItem *node) const;
    void ActionList1Update() { window.ActionList1Update(); }
};

// Selects exactly `rows` of the window's document list, as clicks with Ctrl would.
void SelectRows(Tfrm_cache &window, const QList<int> &rows);

// A shown main window over the process's store, with the first catalogue load done. Its own
// files live in `appDir`: a temporary folder, or the one given, so that a test can open a
// second window over the files the first one left. Its questions go to `answerer`, or to its
// own `boxes`, which answer OK.
struct ShownWindow {
    explicit ShownWindow(const QString &dir = QString(), Answerer *answerer = nullptr);

    QTemporaryDir temp;
    QString appDir;
    ScriptedAnswerer boxes;
    Answerer *answerer;
    std::unique_ptr<Tfrm_cache> frm_cache;
    std::unique_ptr<WindowParts> window;

    // `beforeShow` runs on the made window before it is shown.
    bool open(QSize size = QSize(900, 600), const std::function<void(WindowParts &)> &beforeShow = {});
    void close();
    // The n-th host node captioned `caption` ("[h.net]"); null when there is none.
    QTreeWidgetItem *hostNode(const QString &caption, int nth = 0) const;
    // Makes that node current, as a click would; false when there is none.
    bool selectHost(const QString &caption, int nth = 0);
};
