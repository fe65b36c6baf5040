#pragma once
// The window "缓存信息": what the cache knows about one document, read-only. Each value is a
// read-only line that selects and copies (plain text whatever it holds: a hostile URL shows
// as the characters it is), the response head a read-only text view, and a button copies all
// of it as text.

#include <QDialog>
#include <QList>
#include <QString>

class QPlainTextEdit;

// What the window shows; the document list fills it from the entry's fields.
struct EntryInfo {
    struct Line {
        QString name;    // the field's stable name: the value's object name
        QString caption; // "最后访问"
        QString value;
    };
    QList<Line> lines;    // in their order, values not empty
    QString responseHead; // as stored, lines ending in "\n"
    QString copyText;     // what the copy button puts on the clipboard
};

class EntryInfoWindow : public QDialog {
    Q_OBJECT
public:
    EntryInfoWindow(const EntryInfo &info, QWidget *owner = nullptr);

    // The shown value of the field `name` ("url", "last_access", ...); empty when not shown.
    QString valueText(const QString &name) const;
    QString responseHeadText() const;

public slots:
    void copyAll();

private:
    // Sizes the window to what it shows, within the screen of `owner`.
    void fitToContent(const QWidget *owner);
    static constexpr int TextFieldPadding = 16; // a line edit's frame and inner margins

    QString m_copyText;
    QPlainTextEdit *m_head = nullptr;
};

// Shows `info` in a window of its own over `owner` and returns at once; the window deletes
// itself when closed.
EntryInfoWindow *ShowEntryInfo(QWidget *owner, const EntryInfo &info);
