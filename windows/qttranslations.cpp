#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstring>

namespace {

bool install(const QString &catalogue)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(catalogue, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

// The few texts of Qt's that its catalogue leaves in English: the file dialog's type column
// names a folder through a context the catalogue does not know.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        static const struct {
            const char *context;
            const char *source;
            const char16_t *text;
        } texts[] = {
            {"QAbstractFileIconProvider", "Folder", u"文件夹"},
            {"QAbstractFileIconProvider", "File", u"文件"},
            {"QAbstractFileIconProvider", "Drive", u"驱动器"},
            {"QAbstractFileIconProvider", "Shortcut", u"快捷方式"},
        };
        for (const auto &t : texts)
            if (context && sourceText && std::strcmp(context, t.context) == 0 && std::strcmp(sourceText, t.source) == 0)
                return QString::fromUtf16(t.text);
        return {};
    }
};

} // namespace

bool InstallQtChineseTranslations()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return false;
    // Once per application object, however often the program's start-up runs in it.
    const char *const done = "tidewrackQtTranslations";
    if (application->property(done).isValid())
        return application->property(done).toBool();
    // "qt_zh_CN" gathers the catalogues of Qt's base modules; the web engine has its own.
    const bool base = install(QStringLiteral("qt_zh_CN"));
    install(QStringLiteral("qtwebengine_zh_CN"));
    if (base)
        QCoreApplication::installTranslator(new MissingQtTexts(application));
    application->setProperty(done, base);
    return base;
}
