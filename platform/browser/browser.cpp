#include "browser.h"

Browser::Browser(QWidget *parent) : QWidget(parent) {}

void Browser::Navigate(const QString &) {}
