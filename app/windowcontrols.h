#pragma once
// The main window's controls as its design lays them out, made in one go. Each keeps its
// design name as its object name (see the glossary in mainwindow.h); the window holds them
// privately and hands each concern the few it works with.

#include "actionlist.h"
#include "statuspanels.h"

#include <QList>

#include <memory>

class Browser;
class Lister;
class QFrame;
class QLabel;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QWidget;

struct WindowControls {
    // Makes every control, menu and action inside `window`.
    explicit WindowControls(QMainWindow *window);

    std::unique_ptr<ActionList> actions;

    // The body.
    QWidget *Panel7 = nullptr;
    QToolBar *ToolBar1 = nullptr;
    QFrame *pnl_hand = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lab_collect = nullptr;
    QWidget *Panel2 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QTreeWidget *Tree = nullptr;
    QSplitter *Splitter2 = nullptr; // between lister and pnl_main
    Lister *lister = nullptr;
    QWidget *pnl_main = nullptr;
    Browser *Web1 = nullptr;
    QPlainTextEdit *editor = nullptr;
    std::unique_ptr<StatusPanels> sbar;

    QMenu *fileMenu = nullptr; // the menu bar's 文件

    // The menus beside the menu bar's.
    QMenu *Pop_list = nullptr;
    QMenu *Pop_tree = nullptr;
    // Shown in Pop_tree on the search station and on a host node only.
    QAction *Pop_deleteFound = nullptr;
    QAction *Pop_deleteHost = nullptr;
    QMenu *Pop_CollectBox = nullptr;
    QMenu *Pop_save = nullptr;
    QMenu *m_sort = nullptr;
    QList<QAction *> sortItems; // the items of m_sort, by position

private:
    void createBody(QMainWindow *window);
    void createToolBar(QMainWindow *window);
    void createMenus(QMainWindow *window);
};
