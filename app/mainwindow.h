#pragma once
// The main window: owner of the controls, the lists and the settings, and of the concern
// objects that carry the behaviour. It wires the actions to them and does little itself.

#include "catalogue/cataloguestate.h"
#include "settingsfile.h"

#include <QColor>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

class Browser;
class CatalogueLoader;
class CollectBox;
class DocumentCommands;
class DocumentList;
class Lister;
class PreviewPane;
class Tfrm_find;
class Tfrm_logo;
class Tfrm_showinfo;

// Absolute indexes of the tree's three roots.
enum TreeRoot { CollectRoot = 0, SearchRoot = 1, CacheRoot = 2 };

class Tfrm_cache : public QMainWindow {
    Q_OBJECT
public:
    // `appDir` is the executable's folder: settings file and readme.txt live there.
    explicit Tfrm_cache(const QString &appDir, QWidget *parent = nullptr);
    ~Tfrm_cache() override;

    // The controls, named as the program's design names them.
    QWidget *Panel7 = nullptr;
    QToolBar *ToolBar1 = nullptr;
    QFrame *pnl_hand = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lab_collect = nullptr;
    QWidget *Panel2 = nullptr;
    QTreeWidget *Tree = nullptr;
    QSplitter *Splitter1 = nullptr;
    QSplitter *Splitter2 = nullptr; // between lister and pnl_main
    Lister *lister = nullptr;
    QWidget *pnl_main = nullptr;
    QPlainTextEdit *editor = nullptr;
    Browser *Web1 = nullptr;
    QLabel *sbarPanels[3] = {};

    QMenu *Pop_list = nullptr;
    QMenu *Pop_tree = nullptr;
    QMenu *Pop_CollectBox = nullptr;
    QMenu *Pop_save = nullptr;
    QMenu *m_sort = nullptr;

    // The actions of ActionList1, and the menu items that are not actions.
    QAction *ARefresh = nullptr, *AOpenDoc = nullptr, *ADocinfo = nullptr, *ASaveDocas = nullptr, *ASaveWebas = nullptr,
            *ADeleteDoc = nullptr, *ASendtoBox = nullptr, *ASelectAll = nullptr, *ACopyUrl = nullptr, *AFind = nullptr,
            *AFindInWeb = nullptr, *ASaveAllCollectDoc = nullptr, *ARemoveCollectDoc = nullptr,
            *AClearCollectDoc = nullptr, *Aoffline = nullptr, *AInternetOption = nullptr, *AHelp = nullptr;
    QAction *m_viewdoc = nullptr, *m_VsReport = nullptr, *m_VsIcon = nullptr, *m_offline = nullptr, *N9 = nullptr,
            *N13 = nullptr;
    QList<QAction *> sortItems; // the items of m_sort, by position
    QList<QAction *> ActionList1;

    CatalogueState state;
    Tsettingdata settings{};
    QString app_dir;
    QColor toolbar_light_colour;
    QColor toolbar_face_colour;

    // The concerns.
    CatalogueLoader *loader = nullptr;
    DocumentList *documents = nullptr;
    PreviewPane *preview = nullptr;
    DocumentCommands *commands = nullptr;
    CollectBox *collectBox = nullptr;
    Tfrm_showinfo *frm_showinfo = nullptr;
    Tfrm_find *frm_find = nullptr;
    QPointer<QWidget> frm_logo; // the splash or about window while one is up

    void SetStatusText(int panel, const QString &text);
    QString StatusText(int panel) const;
    QTreeWidgetItem *TreeNode(int absoluteIndex) const;
    int AbsoluteIndex(const QTreeWidgetItem *node) const;

    void ShowProgress(const QString &message, int animation);
    void HideProgress();
    void UpdateSearchNode();
    void ActionList1Update();
    QAction *actionNamed(const QString &name) const;

    // Start-up hooks.
    bool ReadSettings();
    void DefaultPlacement();
    void ApplySettings();
    void SavePlacement();
    void WriteSettings();
    QString SettingsPath() const;

public slots:
    void AFindExecute();
    void AHelpExecute();
    void N9Click();
    void N13Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void placeDefault();
    void FormShow();
    void FormClose();
    void createActions();
    void createMenus();
    void createToolBar();
    void createBody();
    void createStatusBar();
    void connectActions();

    bool m_shown = false;
    bool m_closed = false;
};
