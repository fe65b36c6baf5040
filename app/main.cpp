#include "mainwindow.h"

#include "platform/browser/offlineserving.h"
#include "platform/indexdatstore.h"
#include "platform/offlinestate.h"
#include "platform/processmemory.h"
#include "windows/logoform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    KeepLargeBuffersOffHeap();
    // The preview's offline schemes must be known before the application object exists.
    RegisterPreviewSchemes();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidewrack"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tidewrack"));
    const QString app_dir = QApplication::applicationDirPath() + QLatin1Char('/');

    // The splash stands, on top, until the first catalogue is loaded.
    auto *splash = new Tfrm_logo;
    splash->PrepareSplash();
    splash->show();
    QApplication::processEvents();

    SetUrlCacheStore(OpenDefaultUrlCacheStore(nullptr));
    UseOfflineStateFile(DefaultOfflineStateFile());

    Tfrm_cache frm_cache(app_dir);
    frm_cache.frm_logo = splash;
    frm_cache.show();
    return app.exec();
}
