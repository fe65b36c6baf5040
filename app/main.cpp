#include "mainwindow.h"

#include "platform/browser/offlineserving.h"
#include "platform/offlinestate.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The preview's offline schemes must be known before the application object exists.
    RegisterPreviewSchemes();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidewrack"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tidewrack"));
    const QString app_dir = QApplication::applicationDirPath() + QLatin1Char('/');

    UseOfflineStateFile(DefaultOfflineStateFile());

    Tfrm_cache frm_cache(app_dir);
    frm_cache.show();
    return app.exec();
}
