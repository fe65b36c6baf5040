#pragma once
// The main window `frm_cache`: it holds the lists, the settings, the controls and the concern
// objects that carry the behaviour, and wires them together; it does little itself.
//
// Its controls, by their design names (each is also the control's object name):
//   Panel7          the band above the body: ToolBar1 and pnl_hand          windowcontrols.cpp
//   ToolBar1        toolbar of buttons bound to the actions, painted with a gradient
//   pnl_hand        the framed box at the band's right end, holding:
//     Image1        the collect box indicator picture (empty or full)     CollectBox
//     lab_collect   the transparent label over it: drops, drags, menu      CollectBox
//   Panel2          the body: Splitter1 between Tree and Splitter2
//   Tree            the tree: collect box, search station, cache with one node per host
//                   (treenodes.h); filled by CatalogueLoader, read by DocumentList
//   Splitter2       between lister (above) and pnl_main (below)            PreviewPane
//   lister          the document list control (lister.h)                   DocumentList
//     its report header's columns, shown, ordered and sized by the user    ListColumns
//   pnl_main        the preview pane, stacking Web1 and editor             PreviewPane
//   Web1            the preview browser (platform/browser/browser.h)       PreviewPane
//   editor          the read-only text viewer for plain-text documents     PreviewPane
//   sbar            the status bar; its panels sbar0..sbar2 (statuspanels.h)
//   Pop_list, Pop_tree, Pop_CollectBox   context menus of lister, Tree and lab_collect
//   Pop_columns     the context menu of the list's header: the further columns  ListColumns
//   Pop_save        the save button's menu: save document, save web page
//   m_sort          the hidden sort menu; its six items are sortItems      DocumentList
//   ActionList1     the actions ARefresh .. AExportWarc (actionlist.h), each reached by menu,
//                   toolbar, context menu and shortcut alike; AEntryInfo, AExportList,
//                   AExportDocs and AExportWarc are carried out by          EntryCommands
//   m_viewdoc       F8: the preview pane on or off                         PreviewPane
//   m_VsReport, m_VsIcon   the list styles: report with small icons, large icons
//   m_offline       the options menu's item bound to the action Aoffline
//   N9, N13         Exit, and Mail to the author
//   AOpenStore, m_sources   File menu: open a cache folder; the caches found here  StoreChooser
// and its windows: frm_find (findform.h), frm_showinfo (windows/infoform.h, the progress
// window during a load or a list export), frm_logo (windows/logoform.h, the splash and the
// about box), frm_entryinfo (windows/entryinfowindow.h, a document's cache information),
// frm_exportdocs (windows/exportdocumentsdialog.h) and frm_exportprogress.

#include "catalogue/cataloguestate.h"
#include "settingsfile.h"

#include <QMainWindow>
#include <QMetaObject>
#include <QPointer>

#include <memory>

class Answerer;
class CatalogueLoader;
class CollectBox;
class DocumentCommands;
class DocumentList;
class DocumentSaver;
class EntryCommands;
class ListColumns;
class PreviewPane;
class CacheStore;
class StoreChooser;
class QAction;
class Tfrm_find;
class Tfrm_showinfo;
struct StoreProblem;
struct WindowControls;

class Tfrm_cache : public QMainWindow {
    Q_OBJECT
public:
    // `appDir` is the executable's folder: settings file and readme.txt live there. The
    // window's questions and reports go to `answerer`; without one, to real message boxes.
    explicit Tfrm_cache(const QString &appDir, Answerer *answerer = nullptr, QWidget *parent = nullptr);
    ~Tfrm_cache() override;

    // The lists the concerns share, and the settings as read at start and changed since.
    CatalogueState &state() { return m_state; }
    const Tsettingdata &settings() const { return m_settings; }

    // The concerns, for start-up and tests; the controls are found by their object names.
    CatalogueLoader &loader() const { return *m_loader; }
    DocumentList &documents() const { return *m_documents; }
    PreviewPane &preview() const { return *m_preview; }
    DocumentCommands &commands() const { return *m_commands; }
    CollectBox &collectBox() const { return *m_collectBox; }
    DocumentSaver &saver() const { return *m_saver; }
    ListColumns &columns() const { return *m_columns; }
    EntryCommands &entries() const { return *m_entries; }
    Tfrm_find &findForm() const { return *m_find; }
    StoreChooser &storeChooser() const { return *m_storeChooser; }

    // Shows `store` alone from the next load on; addStore shows it beside the others.
    void useStore(std::shared_ptr<CacheStore> store);
    void addStore(std::shared_ptr<CacheStore> store);
    // Adds the store in `path` and reloads at once; says so and changes nothing when the
    // folder holds no store. The open stores are remembered for the next start.
    void openStore(const QString &path);
    // Shows or closes the store in `path`, and reloads.
    void showStore(const QString &path, bool shown);
    void openStores(const QStringList &paths);

    // frm_logo: the splash until the first load is done, or the about box while it is up.
    void setSplash(QWidget *splash) { m_logo = splash; }
    QWidget *logoForm() const { return m_logo; }

    // Enables the actions for what is selected and shown now; runs whenever the event loop
    // runs out of work.
    void ActionList1Update();
    QAction *actionNamed(const QString &name) const;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void ACopyUrlExecute();
    void AFindExecute();
    void AHelpExecute();
    void N9Click();
    void N13Click();

private:
    void connectActions();
    void connectConcerns();
    // What the window shows or keeps of what a concern reports.
    void checkSortItem(int key);
    void keepViewStyle(int style);
    void UpdateSearchNode();
    // After the set of stores changed: the sources' check marks, the remembered set, a reload.
    void storesChanged();
    // Whether a selected row comes from a store closed since it was read.
    bool selectionUnavailable() const;
    bool selectionReadOnly() const;
    // A store's problem under its root, and in a box when the user has just opened that store.
    void showStoreProblem(const StoreProblem &problem);

    void FormCreate();
    bool ReadSettings();
    // The default window rectangle alone; DefaultPlacement also sets the default preview,
    // list style and list height.
    void moveToDefaultPlace();
    // Once the window manager's frame is known, fits the whole window, frame included, to
    // the default rectangle.
    void fitFrameToDefaultPlace();
    void DefaultPlacement();
    void ApplySettings();
    void FormShow();
    void FormClose();
    void SavePlacement();
    void WriteSettings();
    QString settingsPath() const;

    // Declared in the order they are made; the concerns go before the controls they use.
    CatalogueState m_state;
    Tsettingdata m_settings{};
    QString m_appDir;
    std::unique_ptr<Answerer> m_boxes; // the real boxes, when no answerer was given
    Answerer &m_answerer;
    std::unique_ptr<WindowControls> ui;
    std::unique_ptr<DocumentSaver> m_saver;
    std::unique_ptr<CatalogueLoader> m_loader;
    std::unique_ptr<DocumentList> m_documents;
    std::unique_ptr<ListColumns> m_columns;
    std::unique_ptr<PreviewPane> m_preview;
    std::unique_ptr<DocumentCommands> m_commands;
    std::unique_ptr<CollectBox> m_collectBox;
    std::unique_ptr<EntryCommands> m_entries;
    StoreChooser *m_storeChooser = nullptr; // owned by the window, as Qt children are
    // The store the user opened for the next load, and for the load running now.
    URLCACHE_STORE_ID m_openedNext = 0;
    URLCACHE_STORE_ID m_openedNow = 0;
    Tfrm_showinfo *m_showinfo = nullptr; // frm_showinfo
    Tfrm_find *m_find = nullptr;         // frm_find
    QPointer<QWidget> m_logo;            // frm_logo
    QMetaObject::Connection m_idleUpdate;
    // The default rectangle the window with its frame is to fill, while its frame is not known.
    QRect m_defaultOuter;

    static constexpr int FrameWaitMs = 3000;
    static constexpr int FrameLookMs = 50;
    bool m_shown = false;
    bool m_closed = false;
};
