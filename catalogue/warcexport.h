#pragma once
// Cache entries written as a web archive (WARC 1.1, .warc.gz): a warcinfo record, then per
// document a response record holding the response as the browser received it (status line,
// stored head, body as stored, still content-encoded), a resource record for an entry without
// a stored head, and a revisit record for a payload already written. Bodies are read one at a
// time, so an export of any size holds at most one body in memory.

#include "entryfields.h"
#include "warcwriter.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// One document to archive and the folder of the store it comes from.
struct WarcDocument {
    EntryRow row;
    QString storeFolder;
};

struct WarcExportOptions {
    // Called after each document with how many are done; returning false stops the export,
    // and then no file is left.
    std::function<bool(std::size_t done, std::size_t total)> progress;
    StoreTime now = 0; // the warcinfo record's time; 0: the current time
};

enum class WarcRecordKind { None, Response, Resource, Revisit };
// "response", "resource", "revisit", "" for None.
const char *WarcRecordKindName(WarcRecordKind kind);

// What became of one document.
struct WarcExported {
    WarcRecordKind kind = WarcRecordKind::None; // None: not archived, `problem` says why
    QString problem;
};

struct WarcExportResult {
    QString error;                       // why no archive was written; empty when it was
    std::vector<WarcExported> documents; // one per document, in their order
    bool stopped = false;                // the progress callback stopped the export
    std::size_t writtenCount() const;
};

// The date a document's records carry: the response's time (Chromium's own record of it, else
// the head's Date), else the last sync with the server, else when the entry was made or last
// used; 0 when the cache knows none of them.
StoreTime WarcResponseTime(const EntryRow &row, StoreKind kind);

// Writes the records of `documents` to `writer`. False when the writer failed (its error()
// says why); a document that cannot be read is reported in `result` and the others go on.
bool WriteWarcRecords(const std::vector<WarcDocument> &documents, WarcWriter &writer, const std::string &fileName,
                      const WarcExportOptions &options, WarcExportResult &result);

// Writes the archive file `path` (whole or not at all). A path inside one of the documents'
// store folders is refused, so nothing is ever written into a cache.
WarcExportResult ExportWarc(const std::vector<WarcDocument> &documents, const QString &path,
                            const WarcExportOptions &options = {});
