#include "collectbox.h"

#include "mainwindow.h"

CollectBox::CollectBox(Tfrm_cache &form) : QObject(&form), m_form(form) {}

void CollectBox::UpdateCollectNode() {}
void CollectBox::DrawCollectIndicator(int) {}
void CollectBox::ASendtoBoxExecute() {}
void CollectBox::ARemoveCollectDocExecute() {}
void CollectBox::AClearCollectDocExecute() {}
void CollectBox::ASaveAllCollectDocExecute() {}
