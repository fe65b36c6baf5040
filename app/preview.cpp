#include "preview.h"

#include "mainwindow.h"

PreviewPane::PreviewPane(Tfrm_cache &form) : QObject(&form), m_form(form) {}

void PreviewPane::listerChange(int) {}
void PreviewPane::ShowPreview(bool) {}
void PreviewPane::m_viewdocClick() {}
void PreviewPane::AFindInWebExecute() {}
void PreviewPane::AInternetOptionExecute() {}
void PreviewPane::ASaveWebasExecute() {}
