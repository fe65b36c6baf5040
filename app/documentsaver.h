#pragma once
// Saving cache documents where the user picks: one document under the exact name given,
// several into the chosen folder under their own names. The document commands and the
// collect box both save through it.

#include "platform/wininet.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

class Answerer;
class QWidget;

// Appends the folder separator '/' unless the text already ends with one (the last byte
// alone is looked at); an empty text becomes "/".
void EnsureTrailingSlash(std::string &path);

class DocumentSaver {
public:
    // `dialogParent` carries the save dialog and the copy's progress window; a file that
    // could not be copied is told to `answerer`.
    DocumentSaver(QWidget *dialogParent, Answerer &answerer) : m_dialogParent(dialogParent), m_answerer(answerer) {}

    // Asks where to, then copies the local files of `entries` (the entries' blocks, so that a
    // browser cache's bodies can be written out first) there; nothing for none.
    void SaveDocuments(const std::vector<const INTERNET_CACHE_ENTRY_INFOA *> &entries);

    // Stands in for the save dialog (tests): gets the proposed name, returns the chosen
    // path or an empty text for cancel.
    void setSaveDialog(std::function<QString(const QString &proposed)> dialog) { m_saveDialog = std::move(dialog); }

private:
    QString askSavePath(const QString &proposed);

    QWidget *m_dialogParent;
    Answerer &m_answerer;
    std::function<QString(const QString &)> m_saveDialog;
};
