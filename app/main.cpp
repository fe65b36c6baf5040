#include "mainwindow.h"
#include "startup.h"
#include "stores/bodies.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    PrepareProcess();
    QApplication app(argc, argv);
    const int status = [&app] {
        // One optional argument: the cache store to open (a folder, or a file in it).
        const QStringList arguments = QApplication::arguments();
        const auto frm_cache =
            StartTidewrack(QApplication::applicationDirPath() + QLatin1Char('/'), arguments.value(1));
        return app.exec();
    }();
    ReleaseBodiesFolder();
    return status;
}
