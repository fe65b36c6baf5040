#include "lister.h"

#include <QTableView>
#include <QVBoxLayout>

Lister::Lister(QWidget *parent) : QWidget(parent), m_report(new QTableView(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_report);
}
