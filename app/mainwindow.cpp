#include "mainwindow.h"
Tfrm_cache::Tfrm_cache(QWidget *parent) : QMainWindow(parent) { setWindowTitle("Tidewrack"); }
