#pragma once
// The search dialog: reads the search criteria from its controls, runs the search over the
// catalogue into the search station and offers to show the station. Created once with the
// main window and reused for the whole run.

#include "collections/search.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPushButton;
struct CatalogueState;

class Tfrm_find : public QDialog {
    Q_OBJECT
public:
    // Searches state's catalogue into its search station; `window` is the main window,
    // which the dialog belongs to and is centred on the screen of.
    Tfrm_find(CatalogueState &state, QWidget *window);

    // The controls, named as the program's design names them.
    QGroupBox *rad_type = nullptr;
    QButtonGroup *rad_typeItems = nullptr; // the three radio items, ids 0..2
    QGroupBox *GroupBox3 = nullptr;
    QComboBox *cmb_doctype = nullptr;
    QCheckBox *chk_selectedStore = nullptr; // only the cache of the tree's selected root
    QGroupBox *GroupBox1 = nullptr;
    QComboBox *cmb_find = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *btn_go = nullptr;
    QPushButton *btn_start = nullptr;
    QPushButton *Button2 = nullptr;

    // The criteria as the controls hold them, and back.
    SearchCriteria criteria() const;
    void setCriteria(const SearchCriteria &criteria);

    bool isSearching() const { return m_searching; }

signals:
    // A search filled the search station anew.
    void searchFinished();
    // The user asked to see the search station's documents.
    void searchStationRequested();

public slots:
    void btn_startClick();
    void btn_goClick();
    void RunSearch();
    // Closes the dialog, except while a search runs.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FitToFont();
    void FormShow();
    bool cmb_findKeyDown(QKeyEvent *event);
    void AddToHistory(const QString &text);
    void SetControlsEnabled(bool enabled);

    CatalogueState &m_state;
    bool m_searching = false;
    bool m_stopRequested = false;
};
