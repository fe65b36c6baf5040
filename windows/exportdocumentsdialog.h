#pragma once
// The question before documents are exported: into which folder, and whether a manifest (a
// CSV list of the documents with every field and the name each was written under) goes
// beside them.

#include <QDialog>
#include <QString>

#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

struct ExportDocumentsChoice {
    QString folder;
    bool manifest = false;
};

class ExportDocumentsDialog : public QDialog {
    Q_OBJECT
public:
    // `count` documents are to go; `folder` is proposed.
    ExportDocumentsDialog(int count, const QString &folder, QWidget *owner = nullptr);

    ExportDocumentsChoice choice() const;
    QLineEdit *folderField() const { return m_folder; }
    QCheckBox *manifestBox() const { return m_manifest; }

private:
    void browse();
    void updateOk();

    QLineEdit *m_folder = nullptr;
    QCheckBox *m_manifest = nullptr;
    QPushButton *m_ok = nullptr;
};

// Asks with the dialog over `owner`; nothing when the user cancels.
std::optional<ExportDocumentsChoice> AskExportDocuments(QWidget *owner, int count, const QString &folder);
