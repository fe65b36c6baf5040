#pragma once
// The panels the window's concerns work over, without the window and without the web
// engine: a bare Lister, the tree and the status bar, the lists, and the two concerns every
// other one leans on (the loader builds the tree, the document list fills the Lister from
// the node chosen in it), wired as the window wires them.

#include "answering.h"
#include "app/catalogueloader.h"
#include "app/documentlist.h"
#include "app/documentsaver.h"
#include "app/statuspanels.h"
#include "catalogue/cataloguestate.h"

#include <QList>
#include <QWidget>

#include <initializer_list>
#include <memory>

class Lister;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

struct Panels {
    Panels();
    ~Panels();

    // The window stand-in the panels live in; shown only by tests that need painting or focus.
    QWidget host;
    QTreeWidget *Tree;
    Lister *lister;
    QStatusBar *bar;
    StatusPanels status;
    CatalogueState state;
    ScriptedAnswerer answerer;
    DocumentSaver saver;
    CatalogueLoader loader;
    DocumentList documents;

    // Reads the process's store and builds the tree, as the window's first load does.
    void load() { loader.LoadCatalogue(false); }
    // Shows the panels and loads: whether the tree stands.
    bool open();
    // Makes the node with `absoluteIndex` current, as a click would.
    void show(int absoluteIndex);
    QTreeWidgetItem *node(int absoluteIndex) const;
    // Selects exactly `rows` of the document list, as clicks with Ctrl would.
    void select(std::initializer_list<int> rows) { select(QList<int>(rows)); }
    void select(const QList<int> &rows);
};
