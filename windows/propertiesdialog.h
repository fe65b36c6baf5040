#pragma once
// The program's own properties window for a document's local file, shown when no file
// manager offers its properties window: name, type, folder, size, times, permissions, owner
// and the cache entry's URL. Each value is a selectable label named after its field.

#include <QDialog>
#include <QFileDevice>

class QFormLayout;

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    PropertiesDialog(const QString &path, const QString &url, QWidget *owner = nullptr);

    // The shown text of the field `name` ("name", "type", "location", "size", "modified",
    // "accessed", "permissions", "owner", "url"); empty for a field not shown.
    QString fieldText(const QString &name) const;

private:
    void addField(const QString &name, const QString &label, const QString &value);

    QFormLayout *m_form = nullptr;
};

// "-rw-r--r--" for a file with those permissions ('d' first for a folder).
QString PermissionsText(QFileDevice::Permissions permissions, bool isDir);

// "1.2 MB (1,234,567 字节)": the size readable and in bytes.
QString SizeText(qint64 bytes);

// Shows the properties of `path` in a window of its own over `owner` and returns at once;
// the window deletes itself when closed.
void ShowPropertiesDialog(QWidget *owner, const QString &path, const QString &url);
