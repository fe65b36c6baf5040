#pragma once
// The window's actions (`ActionList1`): each command once, whether it is reached by a menu
// item, a toolbar button, a context menu or a shortcut; and the menu items that are actions
// of their own. Also the rules of the update pass that enables them.

#include <QList>

class QAction;
class QWidget;

struct ActionList {
    // Makes the actions, all disabled where nothing is selected yet, and adds them to
    // `window` so that their shortcuts work whatever has the focus.
    explicit ActionList(QWidget *window);

    // What the update pass looks at.
    struct Situation {
        bool selection = false;        // a row of the document list is selected
        bool unavailable = false;      // a selected row comes from a cache closed since
        bool readOnly = false;         // every selected row comes from a cache only ever read
        bool rows = false;             // the list has rows
        bool document = false;         // the browser has loaded a document
        bool browserShown = false;     // the browser, not the text viewer, shows the preview
        bool collectBoxShown = false;  // the tree's current node is the collect box
        bool collectBoxFilled = false; // the collect box holds documents
        bool offline = false;          // the system works offline
    };
    // ActionList1Update's rules: enabled states and the offline check mark.
    void Update(const Situation &now);

    QAction *ARefresh, *AOpenDoc, *ADocinfo, *ASaveDocas, *ASaveWebas, *ADeleteDoc, *ASendtoBox, *ASelectAll, *ACopyUrl,
        *AFind, *AFindInWeb, *ASaveAllCollectDoc, *ARemoveCollectDoc, *AClearCollectDoc, *Aoffline, *AInternetOption,
        *AHelp;
    // What the cache knows: the focused document's details (Alt+Enter), the list and the
    // selected documents written out.
    QAction *AEntryInfo, *AExportList, *AExportDocs, *AExportWarc;
    QList<QAction *> ActionList1; // the actions above, in that order

    // Menu items with behaviour of their own: the preview toggle (F8), the two list styles
    // (one group), Exit and Mail to the author.
    QAction *m_viewdoc, *m_VsReport, *m_VsIcon, *N9, *N13;
};
