#include "mainwindow.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    PrepareProcess();
    QApplication app(argc, argv);
    const auto frm_cache = StartTidewrack(QApplication::applicationDirPath() + QLatin1Char('/'));
    return app.exec();
}
