#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Tfrm_cache window;
    window.show();
    return app.exec();
}
