#pragma once
// The search dialog.

#include <QDialog>

class Tfrm_cache;

class Tfrm_find : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_find(Tfrm_cache &form);

private:
    Tfrm_cache &m_form;
};
