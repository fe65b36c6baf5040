#pragma once
// The commands on the selected documents, the offline toggle and the action update pass.

#include "platform/wininet.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class Tfrm_cache;

// Appends the folder separator unless the text already ends with one (the last byte alone
// is looked at); an empty text becomes the separator alone.
void AddBackslash(std::string &path);

// Why the cache kept an entry, in words, from the error a failed deletion left.
QString DeleteFailureText(DWORD error);

class DocumentCommands : public QObject {
    Q_OBJECT
public:
    explicit DocumentCommands(Tfrm_cache &form);

    // Sets the enabled and checked state of every action; runs at every idle moment, so it
    // reads only a selection, two counts, two browser flags and the offline state.
    void ActionList1Update();

    // Copies the local files of `entries` to a place the user picks.
    void SaveDocuments(const std::vector<const INTERNET_CACHE_ENTRY_INFOA *> &entries);
    void ShowFileProperties(const QString &path, const QString &url = QString());

    // Stands in for the save dialog (tests): gets the proposed name, returns the chosen
    // path or an empty text for cancel.
    void setSaveDialog(std::function<QString(const QString &proposed)> dialog) { m_saveDialog = std::move(dialog); }

public slots:
    void AOpenDocExecute();
    void ADocinfoExecute();
    void ACopyUrlExecute();
    void ASelectAllExecute();
    void ADeleteDocExecute();
    void ASaveDocasExecute();
    void AofflineExecute();

private:
    const INTERNET_CACHE_ENTRY_INFOA *firstSelected() const;
    QString askSavePath(const QString &proposed);

    Tfrm_cache &m_form;
    std::function<QString(const QString &)> m_saveDialog;
};
