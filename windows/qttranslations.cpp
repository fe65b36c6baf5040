#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

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
    application->setProperty(done, base);
    return base;
}
