#include "findform.h"

#include "mainwindow.h"

Tfrm_find::Tfrm_find(Tfrm_cache &form) : QDialog(&form), m_form(form) {}
