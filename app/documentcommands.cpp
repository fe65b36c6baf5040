#include "documentcommands.h"

#include "mainwindow.h"

DocumentCommands::DocumentCommands(Tfrm_cache &form) : QObject(&form), m_form(form) {}

void DocumentCommands::ActionList1Update() {}
void DocumentCommands::AOpenDocExecute() {}
void DocumentCommands::ADocinfoExecute() {}
void DocumentCommands::ACopyUrlExecute() {}
void DocumentCommands::ASelectAllExecute() {}
void DocumentCommands::ADeleteDocExecute() {}
void DocumentCommands::ASaveDocasExecute() {}
void DocumentCommands::AofflineExecute() {}
