#pragma once
// Writing documents out of the cache into a folder of the user's: each entry's body (decoded,
// for browser caches) under its real name from the URL, never replacing a file and never
// writing anywhere but into that folder, and optionally a CSV manifest beside them.

#include "entryfields.h"
#include "stores/storeerror.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

struct DocumentExportOptions {
    // Writes the manifest: the list's CSV (every field) with the name each document was written
    // under and, for those that were not, why.
    bool manifest = false;
    QString manifestName = QStringLiteral("manifest.csv");
    // The cache's own folder: a target folder inside it is refused, so nothing lands in the cache.
    QString storeFolder;
    // Called after each document with how many are done; returning false stops the export
    // (the documents not reached are reported as not written).
    std::function<bool(std::size_t done, std::size_t total)> progress;
};

// What became of one document.
struct ExportedDocument {
    QString fileName; // the name written in the folder; empty when nothing was written
    QString problem;  // why nothing was written, or what to know about what was ("as stored: ...")
    bool written = false;
    // The error number behind a failed write.
    StoreError cause = StoreError::None;
};

// Why the export could not use its folder.
enum class ExportFolderProblem : std::uint8_t { None, NoFolder, InsideCache, CannotMake, NotAFolder, Unwritable };

struct DocumentExportResult {
    QString error; // why the export could not start (the folder); empty when it could
    ExportFolderProblem folderProblem = ExportFolderProblem::None; // the kind of `error`
    StoreError folderCause = StoreError::None;                     // the failure behind it, if any
    QString folder;                                                // the folder, made absolute
    std::vector<ExportedDocument> documents;                       // one per row, in the rows' order
    QString manifestFile;  // the manifest's name in the folder; empty without one
    QString manifestError; // why the manifest could not be written
    bool stopped = false;  // the progress callback stopped the export
    // The error number behind manifestError.
    StoreError manifestCause = StoreError::None;

    std::size_t writtenCount() const;
    bool complete() const { return error.isEmpty() && manifestError.isEmpty() && writtenCount() == documents.size(); }
};

// Writes the documents of `rows` into `folder` (made when missing). A document's name comes
// from its URL as the program names written-out bodies, with " (2)", " (3)" ... before the
// extension when the name is taken (also by a file that was there before); its modification
// time is the document's last-modified time where the cache knows it. A document that cannot
// be read or written is reported and the others go on.
DocumentExportResult ExportDocuments(const std::vector<EntryRow> &rows, const QString &folder, EntryFields &fields,
                                     const DocumentExportOptions &options = {});

// The name `name` takes as the `n`-th of its kind: "a.html", "a (2).html", "a (3).html", ...
std::string NumberedName(const std::string &name, int n);
