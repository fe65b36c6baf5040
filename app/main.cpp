#include "mainwindow.h"
#include "startup.h"
#include "stores/bodies.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    PrepareProcess();
    QApplication app(argc, argv);
    const int status = [&app] {
        const auto frm_cache = StartTidewrack(QApplication::applicationDirPath() + QLatin1Char('/'));
        return app.exec();
    }();
    ReleaseBodiesFolder();
    return status;
}
