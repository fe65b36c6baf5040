#include "listexport.h"

#include "text.h"

#include "stores/savefile.h"

#include <QIODevice>

namespace {

constexpr std::size_t FlushAt = 1 << 20;

// Collects the output in one buffer and hands it to the device in large pieces.
class Output {
public:
    explicit Output(QIODevice &device) : m_device(device) { m_buffer.reserve(FlushAt + 64 * 1024); }

    std::string &buffer() { return m_buffer; }
    void maybeFlush()
    {
        if (m_buffer.size() >= FlushAt)
            flush();
    }
    bool flush()
    {
        if (m_failed)
            return false;
        const char *data = m_buffer.data();
        qint64 left = qint64(m_buffer.size());
        while (left > 0) {
            const qint64 n = m_device.write(data, left);
            if (n <= 0) {
                m_failed = true;
                return false;
            }
            data += n;
            left -= n;
        }
        m_buffer.clear();
        return true;
    }
    bool failed() const { return m_failed; }

private:
    QIODevice &m_device;
    std::string m_buffer;
    bool m_failed = false;
};

// What replaces the bytes at one place of a text, and how many bytes it replaces.
struct Escape {
    std::string_view replacement; // null: the byte stays
    std::size_t bytes = 1;
};

// Appends `text` with the escapes `escapeAt` gives; runs of bytes without one go in whole.
template <typename EscapeAt>
void appendEscaped(std::string &out, std::string_view text, EscapeAt escapeAt)
{
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const Escape escape = escapeAt(text, i);
        if (!escape.replacement.data()) {
            ++i;
            continue;
        }
        out.append(text.data() + run, i - run);
        out += escape.replacement;
        i += escape.bytes;
        run = i;
    }
    out.append(text.data() + run, text.size() - run);
}

void appendCsvCell(std::string &out, std::string_view text, bool guard)
{
    // Spreadsheets skip leading blanks and line breaks before they look for a formula.
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const bool formula = guard && !text.empty()
        && (text[0] == '\t' || text[0] == '\r'
            || (first != std::string_view::npos
                && std::string_view("=+-@").find(text[first]) != std::string_view::npos));
    if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    if (formula)
        out += '\'';
    appendEscaped(out, text, [](std::string_view t, std::size_t i) { return t[i] == '"' ? Escape{"\"\""} : Escape{}; });
    out += '"';
}

void appendTsvCell(std::string &out, std::string_view text)
{
    appendEscaped(out, text, [](std::string_view t, std::size_t i) {
        switch (t[i]) {
        case '\\':
            return Escape{"\\\\"};
        case '\t':
            return Escape{"\\t"};
        case '\n':
            return Escape{"\\n"};
        case '\r':
            return Escape{"\\r"};
        default:
            return Escape{};
        }
    });
}

void appendHtml(std::string &out, std::string_view text)
{
    appendEscaped(out, text, [](std::string_view t, std::size_t i) {
        switch (t[i]) {
        case '&':
            return Escape{"&amp;"};
        case '<':
            return Escape{"&lt;"};
        case '>':
            return Escape{"&gt;"};
        case '"':
            return Escape{"&quot;"};
        case '\'':
            return Escape{"&#39;"};
        default:
            return Escape{};
        }
    });
}

// A JSON string. Besides what JSON requires, <, > and & are escaped so that the text stays
// inert even inside an HTML page, and U+2028/U+2029 so that it stays valid JavaScript.
void appendJsonString(std::string &out, std::string_view text)
{
    static const char *const Control[32] = {"\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006",
                                            "\\u0007", "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",
                                            "\\u000e", "\\u000f", "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014",
                                            "\\u0015", "\\u0016", "\\u0017", "\\u0018", "\\u0019", "\\u001a", "\\u001b",
                                            "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
    out += '"';
    appendEscaped(out, text, [](std::string_view t, std::size_t i) {
        const auto u = static_cast<unsigned char>(t[i]);
        if (u < 0x20)
            return Escape{Control[u]};
        switch (t[i]) {
        case '"':
            return Escape{"\\\""};
        case '\\':
            return Escape{"\\\\"};
        case '<':
            return Escape{"\\u003c"};
        case '>':
            return Escape{"\\u003e"};
        case '&':
            return Escape{"\\u0026"};
        default:
            break;
        }
        if (u == 0xE2 && i + 2 < t.size() && t[i + 1] == '\x80' && (t[i + 2] == '\xA8' || t[i + 2] == '\xA9'))
            return Escape{t[i + 2] == '\xA8' ? "\\u2028" : "\\u2029", 3};
        return Escape{};
    });
    out += '"';
}

void writeCsv(Output &output, const std::vector<EntryRow> &rows, EntryFields &fields, const ListExportOptions &options)
{
    std::string &out = output.buffer();
    if (options.byteOrderMark)
        out += "\xEF\xBB\xBF";
    for (int f = 0; f < EntryFieldCount; ++f) {
        if (f)
            out += ',';
        if (options.captionHeader)
            appendCsvCell(out, EntryFieldCaption(EntryField(f)).toStdString(), options.guardFormulas);
        else
            out += EntryFieldName(EntryField(f));
    }
    for (const ExtraColumn &column : options.extra) {
        out += ',';
        appendCsvCell(out, options.captionHeader ? column.caption.toStdString() : column.name, options.guardFormulas);
    }
    out += "\r\n";
    std::string cell;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int f = 0; f < EntryFieldCount; ++f) {
            if (f)
                out += ',';
            cell.clear();
            fields.appendText(cell, rows[r], EntryField(f));
            appendCsvCell(out, cell, options.guardFormulas);
        }
        for (const ExtraColumn &column : options.extra) {
            out += ',';
            if (r < column.values.size())
                appendCsvCell(out, column.values[r], options.guardFormulas);
        }
        out += "\r\n";
        output.maybeFlush();
    }
}

void writeTsv(Output &output, const std::vector<EntryRow> &rows, EntryFields &fields, const ListExportOptions &options)
{
    std::string &out = output.buffer();
    for (int f = 0; f < EntryFieldCount; ++f) {
        if (f)
            out += '\t';
        out += EntryFieldName(EntryField(f));
    }
    for (const ExtraColumn &column : options.extra) {
        out += '\t';
        appendTsvCell(out, column.name);
    }
    out += '\n';
    std::string cell;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int f = 0; f < EntryFieldCount; ++f) {
            if (f)
                out += '\t';
            cell.clear();
            fields.appendText(cell, rows[r], EntryField(f));
            appendTsvCell(out, cell);
        }
        for (const ExtraColumn &column : options.extra) {
            out += '\t';
            if (r < column.values.size())
                appendTsvCell(out, column.values[r]);
        }
        out += '\n';
        output.maybeFlush();
    }
}

void writeHtml(Output &output, const std::vector<EntryRow> &rows, EntryFields &fields, const ListExportOptions &options)
{
    std::string &out = output.buffer();
    const std::string title =
        (options.title.isEmpty() ? QStringLiteral("Tidewrack 缓存列表") : options.title).toStdString();
    // The policy forbids every script, frame, image and request: even a text that escaped the
    // escaping could not run or reach anything.
    out += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
           "<meta name=\"referrer\" content=\"no-referrer\">\n<title>";
    appendHtml(out, title);
    out += "</title>\n<style>\n"
           "body { font-family: sans-serif; font-size: 13px; margin: 1em; }\n"
           "table { border-collapse: collapse; }\n"
           "th, td { border: 1px solid #ccc; padding: 2px 4px; vertical-align: top; text-align: left; }\n"
           "th { background: #eee; position: sticky; top: 0; }\n"
           "td { white-space: pre-wrap; overflow-wrap: anywhere; max-width: 40em; }\n"
           "td.n { text-align: right; }\n"
           "</style>\n</head>\n<body>\n<h1>";
    appendHtml(out, title);
    out += "</h1>\n<p>共";
    out += std::to_string(rows.size());
    out += "项</p>\n<table>\n<thead>\n<tr>";
    for (int f = 0; f < EntryFieldCount; ++f) {
        out += "<th title=\"";
        out += EntryFieldName(EntryField(f));
        out += "\">";
        appendHtml(out, EntryFieldCaption(EntryField(f)).toStdString());
        out += "</th>";
    }
    for (const ExtraColumn &column : options.extra) {
        out += "<th title=\"";
        appendHtml(out, column.name);
        out += "\">";
        appendHtml(out,
                   (column.caption.isEmpty() ? QString::fromStdString(column.name) : column.caption).toStdString());
        out += "</th>";
    }
    out += "</tr>\n</thead>\n<tbody>\n";
    std::string cell;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += "<tr>";
        for (int f = 0; f < EntryFieldCount; ++f) {
            out += EntryFieldType(EntryField(f)) == FieldType::Number ? "<td class=\"n\">" : "<td>";
            cell.clear();
            fields.appendText(cell, rows[r], EntryField(f));
            appendHtml(out, cell);
            out += "</td>";
        }
        for (const ExtraColumn &column : options.extra) {
            out += "<td>";
            if (r < column.values.size())
                appendHtml(out, column.values[r]);
            out += "</td>";
        }
        out += "</tr>\n";
        output.maybeFlush();
    }
    out += "</tbody>\n</table>\n</body>\n</html>\n";
}

void writeJson(Output &output, const std::vector<EntryRow> &rows, EntryFields &fields, const ListExportOptions &options)
{
    std::string &out = output.buffer();
    out += '[';
    std::string cell;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r ? ",\n{" : "\n{";
        for (int f = 0; f < EntryFieldCount; ++f) {
            const auto field = EntryField(f);
            if (f)
                out += ',';
            out += '"';
            out += EntryFieldName(field);
            out += "\":";
            switch (EntryFieldType(field)) {
            case FieldType::Number:
                if (const auto value = fields.number(rows[r], field))
                    AppendDecimal(out, *value);
                else
                    out += "null";
                break;
            case FieldType::Time: {
                const auto value = fields.number(rows[r], field);
                cell.clear();
                if (value)
                    AppendUtcTime(cell, *value);
                if (value)
                    appendJsonString(out, cell);
                else
                    out += "null";
                out += ",\"";
                out += EntryFieldName(field);
                out += "_local\":";
                cell.clear();
                fields.appendText(cell, rows[r], field);
                if (value)
                    appendJsonString(out, cell);
                else
                    out += "null";
                break;
            }
            case FieldType::Text:
                if (field == EntryField::CacheKind) {
                    appendJsonString(out, StoreKindId(fields.storeKind(rows[r])));
                } else {
                    cell.clear();
                    fields.appendText(cell, rows[r], field);
                    appendJsonString(out, cell);
                }
                break;
            }
        }
        for (const ExtraColumn &column : options.extra) {
            out += ',';
            appendJsonString(out, column.name);
            out += ':';
            appendJsonString(out, r < column.values.size() ? std::string_view(column.values[r]) : std::string_view());
        }
        out += '}';
        output.maybeFlush();
    }
    out += rows.empty() ? "]\n" : "\n]\n";
}

} // namespace

const char *ListFormatName(ListFormat format)
{
    switch (format) {
    case ListFormat::Csv:
        return "csv";
    case ListFormat::Html:
        return "html";
    case ListFormat::Json:
        return "json";
    case ListFormat::Tsv:
        return "tsv";
    }
    return "";
}

std::optional<ListFormat> ListFormatFromName(std::string_view name)
{
    for (const ListFormat format : {ListFormat::Csv, ListFormat::Html, ListFormat::Json, ListFormat::Tsv})
        if (name == ListFormatName(format))
            return format;
    return std::nullopt;
}

bool WriteEntryList(QIODevice &device, const std::vector<EntryRow> &rows, ListFormat format, EntryFields &fields,
                    const ListExportOptions &options, QString *error)
{
    Output output(device);
    switch (format) {
    case ListFormat::Csv:
        writeCsv(output, rows, fields, options);
        break;
    case ListFormat::Html:
        writeHtml(output, rows, fields, options);
        break;
    case ListFormat::Json:
        writeJson(output, rows, fields, options);
        break;
    case ListFormat::Tsv:
        writeTsv(output, rows, fields, options);
        break;
    }
    if (!output.flush()) {
        if (error)
            *error = device.errorString();
        return false;
    }
    return true;
}

StoreResult ExportEntryList(const QString &path, const std::vector<EntryRow> &rows, ListFormat format,
                            EntryFields &fields, const ListExportOptions &options)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveFailure(file);
    return FinishSaveFile(file, !WriteEntryList(file, rows, format, fields, options));
}
