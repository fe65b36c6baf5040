#include "entrycommands.h"

#include "catalogue/cataloguestate.h"
#include "lister.h"
#include "logging.h"
#include "platform/cachefile.h"
#include "platform/causetext.h"
#include "platform/urlcachestore.h"
#include "windows/messagebox.h"
#include "windows/workprogress.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressDialog>
#include <QStandardItemModel>

#include <atomic>

namespace {

// Reports longer than this name the rest by their number only.
constexpr int MostReportedDocuments = 30;

QString storeFolder()
{
    const auto store = CurrentUrlCacheStore();
    return store ? QString::fromStdString(store->folder()) : QString();
}

// Copies of the rows: they keep their entries' blocks alive whatever happens to the list
// while the export lets events run.
ViewList recordsAt(const ViewList &view, const QList<int> &rows)
{
    ViewList records;
    records.reserve(std::size_t(rows.size()));
    for (const int row : rows)
        if (row >= 0 && std::size_t(row) < view.size())
            records.push_back(view[std::size_t(row)]);
    return records;
}

// The override cursor for as long as the object lives.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

EntryInfo EntryInfoOf(const EntryRow &row, EntryFields &fields)
{
    EntryInfo info;
    const std::vector<EntryDetail> details = EntryDetails(row, fields);
    for (const EntryDetail &d : details) {
        if (d.field == EntryField::ResponseHead)
            info.responseHead = d.value;
        else
            info.lines.append({QString::fromLatin1(EntryFieldName(d.field)), EntryFieldCaption(d.field), d.value});
    }
    info.copyText = EntryDetailsText(details);
    return info;
}

const QStringList &ListExportFilters()
{
    static const QStringList filters = {QStringLiteral("CSV 文件 (*.csv)"), QStringLiteral("HTML 网页 (*.html *.htm)"),
                                        QStringLiteral("JSON 文件 (*.json)")};
    return filters;
}

std::pair<ListFormat, QString> ListExportTarget(const QString &path, const QString &filter)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return {ListFormat::Csv, path};
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return {ListFormat::Html, path};
    if (suffix == QLatin1String("json"))
        return {ListFormat::Json, path};
    const QStringList &filters = ListExportFilters();
    if (filter == filters[1])
        return {ListFormat::Html, path + QStringLiteral(".html")};
    if (filter == filters[2])
        return {ListFormat::Json, path + QStringLiteral(".json")};
    return {ListFormat::Csv, path + QStringLiteral(".csv")};
}

namespace {

// Why the export could not use its folder, in the user's words.
QString FolderProblemText(const DocumentExportResult &result)
{
    const QString folder = QDir::toNativeSeparators(result.folder);
    switch (result.folderProblem) {
    case ExportFolderProblem::NoFolder:
        return QStringLiteral("没有选择文件夹");
    case ExportFolderProblem::InsideCache:
        return QStringLiteral("%1\n这个文件夹在缓存自己的文件夹里，不能写入缓存").arg(folder);
    case ExportFolderProblem::CannotMake:
        return QStringLiteral("%1\n无法创建这个文件夹").arg(folder);
    case ExportFolderProblem::NotAFolder:
        return QStringLiteral("%1\n这不是文件夹").arg(folder);
    case ExportFolderProblem::Unwritable:
    case ExportFolderProblem::None:
        break;
    }
    return QStringLiteral("%1\n无法写入这个文件夹：%2").arg(folder, CauseText(result.folderCause));
}

} // namespace

QString DocumentExportReport(const DocumentExportResult &result, const std::vector<EntryRow> &rows, std::size_t reached)
{
    if (!result.error.isEmpty())
        return QStringLiteral("导出未能完成：\n%1\n已写入%2个文档，共%3个。")
            .arg(FolderProblemText(result))
            .arg(result.writtenCount())
            .arg(result.documents.size());
    QStringList lines;
    // After a stop, the documents the export never reached are counted, not listed.
    if (result.stopped)
        lines << QStringLiteral("导出已取消，已写入%1个文档，共%2个。")
                     .arg(result.writtenCount())
                     .arg(result.documents.size());
    else
        reached = result.documents.size();
    QStringList failures;
    int failed = 0;
    for (std::size_t i = 0; i < reached && i < rows.size(); ++i) {
        const ExportedDocument &d = result.documents[i];
        if (d.written)
            continue;
        if (++failed <= MostReportedDocuments)
            failures << QStringLiteral("%1\n    %2")
                            .arg(QString::fromUtf8(SourceUrl(*rows[i].header)),
                                 CauseText(d.cause != StoreError::None ? d.cause : StoreError::Damaged));
    }
    if (failed > 0) {
        lines << QStringLiteral("有%1个文档未能导出：").arg(failed);
        lines << failures;
        if (failed > MostReportedDocuments)
            lines << QStringLiteral("……另有%1个。").arg(failed - MostReportedDocuments);
    }
    if (!result.manifestError.isEmpty())
        lines << QStringLiteral("清单文件未能写入：%1。")
                     .arg(CauseText(result.manifestCause != StoreError::None ? result.manifestCause
                                                                             : StoreError::IoError));
    if (lines.isEmpty())
        lines << QStringLiteral("已导出%1个文档。").arg(result.writtenCount());
    return lines.join(QLatin1Char('\n'));
}

QString WarcExportReport(const WarcExportResult &result, const std::vector<EntryRow> &rows, const QString &path)
{
    if (!result.error.isEmpty())
        return QStringLiteral("无法写入网页存档：\n%1\n%2").arg(QDir::toNativeSeparators(path), result.error);
    if (result.stopped)
        return QStringLiteral("导出已停止，未写入网页存档。");
    QStringList failures;
    int failed = 0;
    for (std::size_t i = 0; i < result.documents.size() && i < rows.size(); ++i) {
        const WarcExported &d = result.documents[i];
        if (d.kind != WarcRecordKind::None)
            continue;
        if (++failed <= MostReportedDocuments)
            failures << QStringLiteral("%1\n    %2").arg(QString::fromUtf8(SourceUrl(*rows[i].header)), d.problem);
    }
    if (failed == 0)
        return {};
    QStringList lines;
    lines << QStringLiteral("网页存档已写入，其中有%1个文档未能写入：").arg(failed) << failures;
    if (failed > MostReportedDocuments)
        lines << QStringLiteral("……另有%1个。").arg(failed - MostReportedDocuments);
    return lines.join(QLatin1Char('\n'));
}

EntryCommands::EntryCommands(CatalogueState &state, Lister *lister, QWidget *dialogParent, Answerer &answerer)
    : m_state(state),
      m_lister(lister),
      m_dialogParent(dialogParent),
      m_answerer(answerer),
      m_lastFolder(QDir::homePath())
{}

int EntryCommands::focusedRow() const
{
    const QItemSelectionModel *selection = m_lister->selectionModel();
    const QModelIndex current = selection ? selection->currentIndex() : QModelIndex();
    if (current.isValid() && selection->isSelected(current))
        return current.row();
    return m_lister->firstSelectedRow();
}

void EntryCommands::showEntryInfo()
{
    const int row = focusedRow();
    const ViewList &view = m_state.view_list;
    if (row < 0 || std::size_t(row) >= view.size())
        return;
    EntryFields fields(storeFolder());
    const EntryRow entry = RowOf(view[std::size_t(row)]);
    EntryInfo info = EntryInfoOf(entry, fields);
    if (const QString problem = m_storeProblems.value(entry.store); !problem.isEmpty()) {
        const QString caption = QStringLiteral("缓存问题");
        info.lines.append({QStringLiteral("store_problem"), caption, problem});
        info.copyText += caption + QStringLiteral(": ") + problem + QLatin1Char('\n');
    }
    ShowEntryInfo(m_dialogParent, info);
}

QString EntryCommands::askListFile(const QString &proposed, QString &filter, int selected, int all, bool &allChosen)
{
    if (m_listDialog)
        return m_listDialog(proposed, filter, allChosen);
    // Qt's own dialog, so that the choice of rows sits in it beside the file name.
    QFileDialog dialog(m_dialogParent, QStringLiteral("导出列表"), proposed,
                       ListExportFilters().join(QStringLiteral(";;")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectNameFilter(filter);
    auto *scope = new QComboBox(&dialog);
    scope->setObjectName(QStringLiteral("exportScope"));
    scope->addItem(QStringLiteral("选定的%1项").arg(selected));
    scope->addItem(QStringLiteral("全部%1项").arg(all));
    if (selected == 0)
        qobject_cast<QStandardItemModel *>(scope->model())->item(0)->setEnabled(false);
    scope->setCurrentIndex(allChosen ? 1 : 0);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        auto *label = new QLabel(QStringLiteral("导出(&R)："), &dialog);
        label->setBuddy(scope);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(scope, row, 1);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    filter = dialog.selectedNameFilter();
    allChosen = scope->currentIndex() == 1;
    return dialog.selectedFiles().constFirst();
}

std::optional<ExportDocumentsChoice> EntryCommands::askDocumentsFolder(int count, const QString &proposed)
{
    if (m_documentsDialog)
        return m_documentsDialog(count, proposed);
    return AskExportDocuments(m_dialogParent, count, proposed);
}

void EntryCommands::exportList()
{
    const QList<int> selected = m_lister->selectedRows();
    const int count = m_lister->rowCount();
    if (count == 0)
        return;
    // One selected row is most likely only the focus: all of the list is offered first then.
    bool all = selected.size() <= 1;
    QString filter = ListExportFilters().front();
    const QString chosen = askListFile(QDir(m_lastFolder).filePath(QStringLiteral("缓存文档列表.csv")), filter,
                                       int(selected.size()), count, all);
    if (chosen.isEmpty())
        return;
    QList<int> rows = all ? QList<int>() : selected;
    if (rows.isEmpty())
        for (int row = 0; row < count; ++row)
            rows.append(row);
    const ViewList records = recordsAt(m_state.view_list, rows);
    if (records.empty())
        return;
    const auto [format, path] = ListExportTarget(chosen, filter);
    m_lastFolder = QFileInfo(path).absolutePath();

    EntryFields fields(storeFolder());
    ListExportOptions options;
    options.title = QStringLiteral("缓存文档列表");
    options.captionHeader = true;
    StoreResult written;
    {
        const BusyCursor busy;
        emit progressShown(QStringLiteral("正在导出列表..."), 0);
        written = ExportEntryList(path, RowsOf(records), format, fields, options);
        emit progressHidden();
    }
    if (!written.ok()) {
        qCWarning(lcUi, "the list was not written: %s", written.reason.c_str());
        m_answerer.tell(
            QStringLiteral("无法写入列表文件：%1。\n%2").arg(CauseText(written.error), QDir::toNativeSeparators(path)),
            MB::ICONERROR);
        return;
    }
    m_answerer.tell(QStringLiteral("已导出%1项到：\n%2").arg(records.size()).arg(QDir::toNativeSeparators(path)),
                    MB::ICONINFORMATION);
}

void EntryCommands::exportDocuments()
{
    const ViewList records = recordsAt(m_state.view_list, m_lister->selectedRows());
    if (records.empty())
        return;
    const auto choice =
        askDocumentsFolder(int(records.size()), QDir(m_lastFolder).filePath(QStringLiteral("缓存文档")));
    if (!choice || choice->folder.isEmpty())
        return;
    m_lastFolder = QFileInfo(choice->folder).absolutePath();

    const std::vector<EntryRow> rows = RowsOf(records);
    EntryFields fields(storeFolder());
    DocumentExportOptions options;
    options.manifest = choice->manifest;
    // Never into a cache: the one open store whose folder would hold the target refuses it.
    options.storeFolder = QString::fromStdString(
        StoreFolderHolding(QFile::encodeName(QDir::cleanPath(QDir(choice->folder).absolutePath())).toStdString()));
    QProgressDialog progress(QStringLiteral("正在导出文档..."), QStringLiteral("取消"), 0, int(rows.size()),
                             m_dialogParent);
    PrepareWorkProgress(progress, QStringLiteral("frm_exportprogress"), QStringLiteral("导出文档"));
    std::size_t reached = 0;
    options.progress = [&progress, &reached](std::size_t done, std::size_t) {
        reached = done;
        progress.setValue(int(done));
        return !progress.wasCanceled();
    };
    DocumentExportResult result;
    {
        const BusyCursor busy;
        result = ExportDocuments(rows, choice->folder, fields, options);
    }
    progress.close();
    const QString report = DocumentExportReport(result, rows, reached);
    if (!report.isEmpty())
        m_answerer.tell(report, result.complete() ? MB::ICONINFORMATION : MB::ICONWARNING);
}

void EntryCommands::exportWarc()
{
    QList<int> selected = m_lister->selectedRows();
    if (selected.isEmpty())
        for (int row = 0; row < m_lister->rowCount(); ++row)
            selected.append(row);
    const ViewList records = recordsAt(m_state.view_list, selected);
    if (records.empty())
        return;
    const QString proposed = QDir(m_lastFolder).filePath(QStringLiteral("缓存文档.warc.gz"));
    QString path = m_archiveDialog ? m_archiveDialog(proposed)
                                   : QFileDialog::getSaveFileName(m_dialogParent, QStringLiteral("导出为网页存档"),
                                                                  proposed, QStringLiteral("网页存档 (*.warc.gz)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".warc.gz"), Qt::CaseInsensitive))
        path += QStringLiteral(".warc.gz");
    m_lastFolder = QFileInfo(path).absolutePath();

    const std::vector<EntryRow> rows = RowsOf(records);
    std::vector<WarcDocument> documents;
    documents.reserve(rows.size());
    for (const EntryRow &row : rows) // each with the cache it was read from
        documents.push_back({row, QString::fromStdString(UrlCacheStoreFolder(row.store))});

    QProgressDialog progress(QStringLiteral("正在导出网页存档..."), QStringLiteral("停止"), 0, int(rows.size()),
                             m_dialogParent);
    PrepareWorkProgress(progress, QStringLiteral("frm_warcprogress"), QStringLiteral("导出为网页存档"));

    // The worker reads the bodies and writes the file; the window only shows how far it got.
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stop{false};
    WarcExportResult result;
    WarcExportOptions options;
    options.progress = [&done, &stop](std::size_t reached, std::size_t) {
        done = reached;
        return !stop;
    };
    connect(&progress, &QProgressDialog::canceled, &progress, [&stop] { stop = true; });
    // Should the program quit meanwhile, the worker stops at its next document.
    RunOffWindowThread([&result, &documents, &path, &options] { result = ExportWarc(documents, path, options); },
                       [&] {
                           progress.setValue(int(done.load()));
                           if (progress.wasCanceled())
                               stop = true;
                       },
                       100, [&stop] { stop = true; });
    progress.close();
    const QString report = WarcExportReport(result, rows, path);
    if (!report.isEmpty())
        m_answerer.tell(report,
                        result.error.isEmpty() && !result.stopped ? MB::ICONWARNING
                            : result.stopped                      ? MB::ICONINFORMATION
                                                                  : MB::ICONERROR);
}
