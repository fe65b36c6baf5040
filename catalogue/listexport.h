#pragma once
// Writing a list of entries out, with every field whether the list shows it or not: CSV for
// spreadsheet programs, one HTML page a browser opens, JSON and TSV for scripts.

#include "entryfields.h"
#include "stores/storeerror.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

enum class ListFormat {
    Csv,  // RFC 4180, CRLF line ends, a header row of the fields' stable names
    Html, // one self-contained page with a table; every text escaped, no script can run
    Json, // an array of objects keyed by the stable names; numbers as numbers, times in UTC
    Tsv,  // a header line, then one line per entry; \\, tab, CR and LF written as \\ \t \r \n
};

// "csv", "html", "json", "tsv".
const char *ListFormatName(ListFormat format);
std::optional<ListFormat> ListFormatFromName(std::string_view name);

// A column written after the entries' fields (the document export's manifest adds the name each
// document was written under). Texts are UTF-8, one per row.
struct ExtraColumn {
    std::string name;
    QString caption;
    std::vector<std::string> values;
};

struct ListExportOptions {
    // CSV: a UTF-8 byte-order mark first, so that spreadsheet programs read the Chinese.
    bool byteOrderMark = true;
    // CSV: a cell a spreadsheet program would take for a formula (starting with = + - @, tab or
    // CR) gets a leading apostrophe, so that a hostile URL or header cannot run as one.
    bool guardFormulas = true;
    // CSV: the header names the columns by their captions ("网址"), as the HTML does, instead
    // of the field names scripts read ("url").
    bool captionHeader = false;
    // HTML: the page's title and heading.
    QString title;
    std::vector<ExtraColumn> extra;
};

// Writes `rows` to `device`, which is open for writing. False, with the device's reason in
// `error`, when writing failed.
bool WriteEntryList(QIODevice &device, const std::vector<EntryRow> &rows, ListFormat format, EntryFields &fields,
                    const ListExportOptions &options = {}, QString *error = nullptr);

// The same into the file `path`, through QSaveFile: a file already there is replaced only once
// everything was written; on a failure it stays as it was, and the result says why.
StoreResult ExportEntryList(const QString &path, const std::vector<EntryRow> &rows, ListFormat format,
                            EntryFields &fields, const ListExportOptions &options = {});
