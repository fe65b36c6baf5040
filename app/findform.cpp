#include "findform.h"

#include "catalogue/cataloguestate.h"
#include "windows/messagebox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace {

QGroupBox *makeGroup(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(QLatin1String(name));
    group->setGeometry(geometry);
    return group;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int left)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 246, 75, 25);
    return button;
}

// Pending paints only: user input waits until the search is over.
void LetPaintsRun()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

Tfrm_find::Tfrm_find(CatalogueState &state, QWidget *window, Answerer &answerer)
    : QDialog(window), m_state(state), m_answerer(answerer)
{
    setObjectName(QStringLiteral("frm_find"));
    setWindowTitle(QStringLiteral("搜索"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(333, 281);

    rad_type = makeGroup(this, "rad_type", QStringLiteral("查找"), QRect(8, 8, 317, 49));
    rad_typeItems = new QButtonGroup(rad_type);
    auto *typeRow = new QHBoxLayout(rad_type);
    const QString typeCaptions[] = {QStringLiteral("网址"), QStringLiteral("文件名"), QStringLiteral("全文")};
    for (int i = 0; i < 3; ++i) {
        auto *item = new QRadioButton(typeCaptions[i], rad_type);
        rad_typeItems->addButton(item, i);
        typeRow->addWidget(item, 1);
    }
    rad_typeItems->button(int(SearchField::Url))->setChecked(true);

    GroupBox3 = makeGroup(this, "GroupBox3", QStringLiteral("文档类别"), QRect(8, 62, 317, 49));
    cmb_doctype = new QComboBox(GroupBox3);
    cmb_doctype->setObjectName(QStringLiteral("cmb_doctype"));
    cmb_doctype->addItems(DocKindNames());
    chk_selectedStore = new QCheckBox(QStringLiteral("只搜索选定的缓存"), GroupBox3);
    chk_selectedStore->setObjectName(QStringLiteral("chk_selectedStore"));
    auto *kindRow = new QHBoxLayout(GroupBox3);
    kindRow->addWidget(cmb_doctype, 1);
    kindRow->addWidget(chk_selectedStore);

    GroupBox1 = makeGroup(this, "GroupBox1", QStringLiteral("找什么？"), QRect(8, 116, 317, 49));
    cmb_find = new QComboBox(GroupBox1);
    cmb_find->setObjectName(QStringLiteral("cmb_find"));
    cmb_find->setEditable(true);
    cmb_find->setInsertPolicy(QComboBox::NoInsert); // the history is kept by addToHistory alone
    cmb_find->setDuplicatesEnabled(true);
    cmb_find->setMaxCount(INT_MAX);
    cmb_find->installEventFilter(this);
    cmb_find->lineEdit()->installEventFilter(this);
    (new QHBoxLayout(GroupBox1))->addWidget(cmb_find);

    GroupBox2 = makeGroup(this, "GroupBox2", QStringLiteral("结果"), QRect(8, 170, 317, 65));
    Label1 = new QLabel(GroupBox2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText);
    (new QHBoxLayout(GroupBox2))->addWidget(Label1);

    btn_go = makeButton(this, "btn_go", QStringLiteral("到搜索站"), 95);
    btn_go->hide();
    btn_start = makeButton(this, "btn_start", QStringLiteral("搜索"), 173);
    Button2 = makeButton(this, "Button2", QStringLiteral("关闭"), 250);

    fitToFont();
    createMoreSection();

    // cmb_find leads the tab order, so it holds the focus when the dialog first opens.
    QWidget *order[] = {cmb_find,
                        rad_typeItems->button(0),
                        rad_typeItems->button(1),
                        rad_typeItems->button(2),
                        cmb_doctype,
                        chk_selectedStore,
                        btn_go,
                        btn_start,
                        Button2,
                        btn_more};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    cmb_find->setFocus();

    connect(btn_start, &QPushButton::clicked, this, &Tfrm_find::btn_startClick);
    connect(btn_go, &QPushButton::clicked, this, &Tfrm_find::btn_goClick);
    connect(Button2, &QPushButton::clicked, this, &Tfrm_find::reject);

    FormCreate();
}

void Tfrm_find::fitToFont()
{
    // The design positions assume a 12-pixel font with a short line; a taller CJK font needs
    // taller groups, so stack them by their own size hints and grow the dialog to match.
    int top = 8;
    for (QGroupBox *group : {rad_type, GroupBox3, GroupBox1, GroupBox2}) {
        group->layout()->setContentsMargins(8, 2, 8, 6);
        const int height = std::max(group->height(), group->sizeHint().height());
        group->setGeometry(8, top, 317, height);
        top += height + 5;
    }
    top += 6;
    for (QPushButton *button : {btn_go, btn_start, Button2})
        button->setGeometry(button->x(), top, 75, std::max(25, button->sizeHint().height()));
    setFixedSize(333, std::max(281, btn_start->geometry().bottom() + 11));
}

void Tfrm_find::createMoreSection()
{
    btn_more = new QToolButton(this);
    btn_more->setObjectName(QStringLiteral("btn_more"));
    btn_more->setText(QStringLiteral("更多条件"));
    btn_more->setCheckable(true);
    btn_more->setAutoRaise(true);
    btn_more->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btn_more->setArrowType(Qt::RightArrow);
    btn_more->setGeometry(8, btn_start->y(), 84, btn_start->height());
    connect(btn_more, &QToolButton::toggled, this, &Tfrm_find::showMoreSection);

    pnl_more = new QWidget(this);
    pnl_more->setObjectName(QStringLiteral("pnl_more"));
    auto *grid = new QGridLayout(pnl_more);
    grid->setContentsMargins(0, 0, 0, 0);
    int line = 0;
    const auto addLine = [&](const QString &caption, std::initializer_list<QWidget *> controls) {
        if (!caption.isEmpty())
            grid->addWidget(new QLabel(caption, pnl_more), line, 0);
        auto *row = new QHBoxLayout;
        for (QWidget *control : controls)
            row->addWidget(control, control->inherits("QLabel") ? 0 : 1);
        grid->addLayout(row, line++, 1);
    };
    const auto combo = [this](const char *name, const QStringList &items) {
        auto *box = new QComboBox(pnl_more);
        box->setObjectName(QLatin1String(name));
        box->addItems(items);
        return box;
    };

    cmb_timefield =
        combo("cmb_timefield", {QStringLiteral("最后访问"), QStringLiteral("最后修改"), QStringLiteral("过期时间")});
    cmb_timerange =
        combo("cmb_timerange",
              {QStringLiteral("不限"), QStringLiteral("最近N天"), QStringLiteral("早于N天"), QStringLiteral("从…到…")});
    addLine(QStringLiteral("时间"), {cmb_timefield, cmb_timerange});
    spn_days = new QSpinBox(pnl_more);
    spn_days->setObjectName(QStringLiteral("spn_days"));
    spn_days->setRange(1, 36500);
    spn_days->setValue(30);
    spn_days->setSuffix(QStringLiteral(" 天"));
    const QDate today = QDate::currentDate();
    dte_from = new QDateEdit(today.addMonths(-1), pnl_more);
    dte_from->setObjectName(QStringLiteral("dte_from"));
    dte_to = new QDateEdit(today, pnl_more);
    dte_to->setObjectName(QStringLiteral("dte_to"));
    for (QDateEdit *date : {dte_from, dte_to}) {
        date->setCalendarPopup(true);
        date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    lbl_until = new QLabel(QStringLiteral("到"), pnl_more);
    addLine({}, {spn_days, dte_from, lbl_until, dte_to});
    connect(cmb_timerange, &QComboBox::currentIndexChanged, this, &Tfrm_find::timeRangeChanged);

    cmb_sizecmp = combo("cmb_sizecmp", {QStringLiteral("不限"), QStringLiteral("大于"), QStringLiteral("小于")});
    spn_size = new QSpinBox(pnl_more);
    spn_size->setObjectName(QStringLiteral("spn_size"));
    spn_size->setRange(0, 1 << 30);
    spn_size->setValue(100);
    cmb_sizeunit = combo("cmb_sizeunit", {QStringLiteral("KB"), QStringLiteral("MB")});
    addLine(QStringLiteral("大小"), {cmb_sizecmp, spn_size, cmb_sizeunit});
    const auto sizeChanged = [this](int index) {
        spn_size->setEnabled(index > 0);
        cmb_sizeunit->setEnabled(index > 0);
    };
    connect(cmb_sizecmp, &QComboBox::currentIndexChanged, this, sizeChanged);
    sizeChanged(0);

    cmb_contentkind = combo("cmb_contentkind", QStringList{QStringLiteral("所有")} + ContentKindNames());
    addLine(QStringLiteral("内容类型"), {cmb_contentkind});
    edt_status = new QLineEdit(pnl_more);
    edt_status->setObjectName(QStringLiteral("edt_status"));
    edt_status->setInputMask(QStringLiteral("999"));
    edt_status->setPlaceholderText(QStringLiteral("不限"));
    edt_partition = new QLineEdit(pnl_more);
    edt_partition->setObjectName(QStringLiteral("edt_partition"));
    edt_partition->setPlaceholderText(QStringLiteral("不限"));
    addLine(QStringLiteral("HTTP 状态"), {edt_status});
    addLine(QStringLiteral("分区"), {edt_partition});

    timeRangeChanged();
    pnl_more->hide();
}

void Tfrm_find::timeRangeChanged()
{
    const int range = cmb_timerange->currentIndex();
    cmb_timefield->setEnabled(range > 0);
    // The days, or the two dates, in the same place.
    spn_days->setVisible(range != 3);
    spn_days->setEnabled(range == 1 || range == 2);
    for (QWidget *control :
         {static_cast<QWidget *>(dte_from), static_cast<QWidget *>(lbl_until), static_cast<QWidget *>(dte_to)})
        control->setVisible(range == 3);
}

void Tfrm_find::showMoreSection(bool shown)
{
    btn_more->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
    const int below = btn_start->geometry().bottom() + 8;
    pnl_more->setGeometry(8, below, 317, pnl_more->sizeHint().height());
    pnl_more->setVisible(shown);
    setFixedSize(333, shown ? pnl_more->geometry().bottom() + 11 : std::max(281, btn_start->geometry().bottom() + 11));
}

EntryCriteria Tfrm_find::moreCriteria(const QDateTime &now) const
{
    EntryCriteria c;
    const auto at = [](const QDateTime &t) { return StoreTimeFromUnix(std::max<qint64>(0, t.toSecsSinceEpoch())); };
    c.timeField = TimeField(std::max(0, cmb_timefield->currentIndex()));
    switch (cmb_timerange->currentIndex()) {
    case 1:
        c.notBefore = at(now.addDays(-spn_days->value()));
        break;
    case 2:
        c.before = at(now.addDays(-spn_days->value()));
        break;
    case 3: // whole days, the last one included
        c.notBefore = at(dte_from->date().startOfDay());
        c.before = at(dte_to->date().addDays(1).startOfDay());
        break;
    default:
        break;
    }
    const std::uint64_t size = std::uint64_t(spn_size->value()) << (cmb_sizeunit->currentIndex() == 1 ? 20 : 10);
    if (cmb_sizecmp->currentIndex() == 1)
        c.largerThan = size;
    else if (cmb_sizecmp->currentIndex() == 2)
        c.smallerThan = size;
    if (cmb_contentkind->currentIndex() > 0)
        c.kind = ContentKind(cmb_contentkind->currentIndex() - 1);
    bool number = false;
    const uint status = edt_status->text().trimmed().toUInt(&number);
    if (number)
        c.status = status;
    c.partition = edt_partition->text().trimmed();
    return c;
}

SearchCriteria Tfrm_find::criteria() const
{
    SearchCriteria c;
    c.field = SearchField(std::max(0, rad_typeItems->checkedId()));
    c.kind = std::max(0, cmb_doctype->currentIndex());
    c.text = cmb_find->currentText();
    return c;
}

void Tfrm_find::setCriteria(const SearchCriteria &c)
{
    if (QAbstractButton *item = rad_typeItems->button(int(c.field)))
        item->setChecked(true);
    cmb_doctype->setCurrentIndex(c.kind);
    cmb_find->setEditText(c.text);
}

void Tfrm_find::FormCreate()
{
    cmb_doctype->setCurrentIndex(AllKinds);
}

void Tfrm_find::FormShow()
{
    Label1->clear();
    btn_go->hide();
    const QWidget *window = parentWidget();
    if (const QScreen *screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tfrm_find::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tfrm_find::closeEvent(QCloseEvent *event)
{
    if (m_searching)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void Tfrm_find::reject()
{
    if (!m_searching)
        QDialog::reject();
}

bool Tfrm_find::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == cmb_find || watched == cmb_find->lineEdit()))
        return cmb_findKeyDown(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

bool Tfrm_find::cmb_findKeyDown(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    RunSearch();
    return true; // neither the combo box nor the dialog's default button sees this Enter
}

void Tfrm_find::btn_startClick()
{
    // While a search runs the button stops it.
    if (m_searching)
        m_stopRequested = true;
    else
        RunSearch();
}

void Tfrm_find::RunSearch()
{
    if (m_searching)
        return;
    m_searching = true;
    m_stopRequested = false;
    QWidget *focused = focusWidget();
    setControlsEnabled(false);
    const QString startCaption = btn_start->text();
    btn_start->setText(QStringLiteral("停止"));
    btn_start->setEnabled(true);

    Label1->setText(QStringLiteral("正在查找..."));
    LetPaintsRun();

    m_state.search_list.clear();
    const SearchCriteria wanted = criteria();
    // The search walks its own list of references, so nothing the paints run can shrink
    // the catalogue under it.
    CacheList catalogue = m_state.cache_list;
    if (chk_selectedStore->isChecked() && m_state.selected_store != 0)
        std::erase_if(catalogue, [this](const CatalogueEntry &e) { return EntryStoreId(e) != m_state.selected_store; });
    // 更多条件 first: they read only the entries' own fields, so the text search (above all
    // the full text) reads only the files that can still match.
    catalogue = FilterByCriteria(catalogue, moreCriteria(QDateTime::currentDateTime()));

    // A store without its content folders has thousands of unreadable files: the box lets
    // the user skip the rest of them, and the result then says how many there were.
    SearchObserver observer;
    std::size_t unreadable = 0;
    bool skipping = false;
    observer.unreadable = [this, &unreadable, &skipping](const CatalogueEntry &) {
        ++unreadable;
        if (!skipping)
            skipping = m_answerer.askSkip(this, QStringLiteral("Tidewrack"), QStringLiteral("打开文件出错。"), MB::OK,
                                          QStringLiteral("跳过其余出错的文件(&S)"))
                == IDIGNORE;
    };
    observer.progress = [this](std::size_t examined) {
        Label1->setText(QStringLiteral("正在查找... 已查 %1 个文件").arg(examined));
        LetPaintsRun();
    };
    observer.stopped = [this] { return m_stopRequested; };
    m_state.search_list = SearchCatalogue(catalogue, wanted, observer);

    const std::size_t hits = m_state.search_list.size();
    if (hits > 0) {
        btn_go->show();
        Label1->setText(QStringLiteral("找到个") + QString::number(hits) + QStringLiteral("文档，已存放在搜索站中。"));
    } else {
        btn_go->hide();
        Label1->setText(QStringLiteral("没找到符合条件的文档。"));
    }
    if (skipping)
        Label1->setText(Label1->text() + QStringLiteral("\n有%1个文件无法读取。").arg(unreadable));
    if (m_stopRequested)
        Label1->setText(Label1->text() + QStringLiteral("\n查找已停止。"));
    emit searchFinished();
    addToHistory(wanted.text);

    // Clicks and keys that queued up meanwhile reach disabled controls and are dropped, so
    // none of them starts a second search.
    btn_start->setEnabled(false);
    QCoreApplication::processEvents();
    btn_start->setText(startCaption);
    setControlsEnabled(true);
    if (focused)
        focused->setFocus();
    m_searching = false;
}

void Tfrm_find::addToHistory(const QString &text)
{
    for (int i = 0; i < cmb_find->count(); ++i)
        if (QString::compare(cmb_find->itemText(i), text, Qt::CaseInsensitive) == 0)
            return;
    const QString typed = cmb_find->currentText();
    cmb_find->insertItem(0, text);
    cmb_find->setEditText(typed);
}

void Tfrm_find::setControlsEnabled(bool enabled)
{
    for (QWidget *control :
         {static_cast<QWidget *>(rad_type), static_cast<QWidget *>(GroupBox3), static_cast<QWidget *>(cmb_find),
          static_cast<QWidget *>(btn_go), static_cast<QWidget *>(btn_start), static_cast<QWidget *>(Button2),
          static_cast<QWidget *>(btn_more), pnl_more})
        control->setEnabled(enabled);
}

void Tfrm_find::btn_goClick()
{
    QCoreApplication::processEvents();
    emit searchStationRequested();
    QCoreApplication::processEvents();
    accept();
}
