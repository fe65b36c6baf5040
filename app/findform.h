#pragma once
// The search dialog: reads the search criteria from its controls, runs the search over the
// catalogue into the search station and offers to show the station. Created once with the
// main window and reused for the whole run.

#include "catalogue/criteria.h"
#include "collections/search.h"

#include <QDialog>

class QButtonGroup;
class QDateTime;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QSpinBox;
class QToolButton;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class Answerer;
struct CatalogueState;

class Tfrm_find : public QDialog {
    Q_OBJECT
public:
    // Searches state's catalogue into its search station; `window` is the main window,
    // which the dialog belongs to and is centred on the screen of. A file the search cannot
    // read is told to `answerer`.
    Tfrm_find(CatalogueState &state, QWidget *window, Answerer &answerer);

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
    // 更多条件: folded away below the buttons until asked for.
    QToolButton *btn_more = nullptr;
    QWidget *pnl_more = nullptr;
    QComboBox *cmb_timefield = nullptr; // 最后访问, 最后修改, 过期时间
    QComboBox *cmb_timerange = nullptr; // 不限, 最近N天, 早于N天, 从…到…
    QSpinBox *spn_days = nullptr;
    QDateEdit *dte_from = nullptr;
    QLabel *lbl_until = nullptr;
    QDateEdit *dte_to = nullptr;
    QComboBox *cmb_sizecmp = nullptr; // 不限, 大于, 小于
    QSpinBox *spn_size = nullptr;
    QComboBox *cmb_sizeunit = nullptr;    // KB, MB
    QComboBox *cmb_contentkind = nullptr; // 所有, then ContentKindNames()
    QLineEdit *edt_status = nullptr;
    QLineEdit *edt_partition = nullptr;

    // The criteria as the controls hold them, and back.
    SearchCriteria criteria() const;
    void setCriteria(const SearchCriteria &criteria);
    // The criteria of 更多条件, with "now" for the ranges counted in days.
    EntryCriteria moreCriteria(const QDateTime &now) const;

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
    void fitToFont();
    void FormShow();
    bool cmb_findKeyDown(QKeyEvent *event);
    void addToHistory(const QString &text);
    void setControlsEnabled(bool enabled);
    void createMoreSection();
    void showMoreSection(bool shown);
    void timeRangeChanged();

    CatalogueState &m_state;
    Answerer &m_answerer;
    bool m_searching = false;
    bool m_stopRequested = false;
};
