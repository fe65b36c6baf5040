#pragma once
// The main window as its tests reach it: the controls by their object names (as any tool
// looking at the window would), the lists and the concerns through the window's accessors.

#include "app/mainwindow.h"

#include <QList>
#include <QString>

#include <initializer_list>

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
        *AHelp, *AEntryInfo, *AExportList, *AExportDocs, *m_viewdoc, *m_VsReport, *m_VsIcon;

    const Tsettingdata &settings() const { return window.settings(); }
    // Panel `panel` of the status bar sbar.
    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString &text);
    QTreeWidgetItem *TreeNode(int absoluteIndex) const;
    int AbsoluteIndex(const QTreeWidgetItem *node) const;
    void ActionList1Update() { window.ActionList1Update(); }
};

// Selects exactly `rows` of the window's document list, as clicks with Ctrl would.
void SelectRows(Tfrm_cache &window, std::initializer_list<int> rows);
