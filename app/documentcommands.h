#pragma once
// The commands on the selected documents, the offline toggle and the action update pass.

#include <QObject>

class Tfrm_cache;

class DocumentCommands : public QObject {
    Q_OBJECT
public:
    explicit DocumentCommands(Tfrm_cache &form);

    void ActionList1Update();

public slots:
    void AOpenDocExecute();
    void ADocinfoExecute();
    void ACopyUrlExecute();
    void ASelectAllExecute();
    void ADeleteDocExecute();
    void ASaveDocasExecute();
    void AofflineExecute();

private:
    Tfrm_cache &m_form;
};
