#pragma once
// The collect box: the user's basket of documents for this run.

#include <QObject>

class Tfrm_cache;

class CollectBox : public QObject {
    Q_OBJECT
public:
    explicit CollectBox(Tfrm_cache &form);

    void UpdateCollectNode();
    void DrawCollectIndicator(int count);

public slots:
    void ASendtoBoxExecute();
    void ARemoveCollectDocExecute();
    void AClearCollectDocExecute();
    void ASaveAllCollectDocExecute();

private:
    Tfrm_cache &m_form;
};
