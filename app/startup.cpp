#include "startup.h"

#include "logging.h"
#include "mainwindow.h"
#include "platform/browser/offlineserving.h"
#include "platform/offlinestate.h"
#include "platform/processmemory.h"
#include "platform/urlcachestore.h"
#include "storechooser.h"
#include "stores/bodies.h"
#include "stores/storeregistry.h"
#include "windows/logoform.h"
#include "windows/qttranslations.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

void PrepareProcess()
{
    KeepLargeBuffersOffHeap();
    // The preview's offline schemes must be known before the application object exists.
    RegisterPreviewSchemes();
}

std::unique_ptr<Tfrm_cache> StartTidewrack(const QString &appDir, const QString &storeArgument, Answerer *answerer)
{
    // The name only: Qt adds a display name to every window's caption.
    QApplication::setApplicationName(QStringLiteral("tidewrack"));
    InstallQtChineseTranslations();
    // Outside a desktop session no icon theme is named; file types then take Adwaita's
    // pictures (installed with the program) before our generic one.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    auto *splash = new Tfrm_logo;
    splash->prepareSplash();
    splash->show();
    QApplication::processEvents();

    StartChoice choice;
    choice.commandLine = QFile::encodeName(storeArgument).toStdString();
    choice.environment = QFile::encodeName(qEnvironmentVariable("TIDEWRACK_URLCACHE")).toStdString();
    choice.remembered = RememberedStore();
    const StartStore start = ChooseStartStore(choice, StoreSearchRoots::fromEnvironment());
    UseOfflineStateFile(DefaultOfflineStateFile());
    // Bodies of browser caches are written out here on demand; a previous run's are stale.
    if (const std::string refused = ClaimBodiesFolder(); !refused.empty())
        qCWarning(lcStore).noquote() << QString::fromStdString(refused);

    auto window = std::make_unique<Tfrm_cache>(appDir, answerer);
    window->useStore(start.path.empty() ? std::make_shared<EmptyStore>(std::string(), start.why)
                                        : OpenStore(start.path));
    // Several caches shown last time are shown again, unless one was named for this start.
    if (choice.commandLine.empty() && choice.environment.empty()) {
        bool first = true;
        for (const std::string &folder : RememberedStoreSet()) {
            std::shared_ptr<CacheStore> remembered = OpenStore(folder);
            if (remembered->kind() == StoreKind::None)
                continue;
            if (first)
                window->useStore(std::move(remembered));
            else
                window->addStore(std::move(remembered));
            first = false;
        }
    }
    window->setSplash(splash);
    window->show();
    return window;
}
