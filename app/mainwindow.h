#pragma once
#include <QMainWindow>
class Tfrm_cache : public QMainWindow {
    Q_OBJECT
public:
    explicit Tfrm_cache(QWidget *parent = nullptr);
};
