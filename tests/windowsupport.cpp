#include "windowsupport.h"

#include "app/documentlist.h"
#include "app/lister.h"
#include "app/mainwindow.h"
#include "catalogue/documentlistmodel.h"

#include <QItemSelectionModel>

void SelectRows(Tfrm_cache &window, std::initializer_list<int> rows)
{
    QItemSelectionModel *selection = window.lister->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(window.documents->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
