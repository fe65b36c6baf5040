#include "documentlist.h"

#include "mainwindow.h"

DocumentList::DocumentList(Tfrm_cache &form) : QObject(&form), m_form(form) {}

void DocumentList::TreeChange(QTreeWidgetItem *) {}
void DocumentList::SetListImages(bool) {}
void DocumentList::SortView(int, bool) {}
void DocumentList::SetRowCount(int) {}
int DocumentList::firstSelectedRow() const { return -1; }
QList<int> DocumentList::selectedRows() const { return {}; }
void DocumentList::m_VsIconClick(QAction *) {}
void DocumentList::m_sortcaptionClick(int) {}
