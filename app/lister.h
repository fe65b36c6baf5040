#pragma once
// The document list control: a report view and a large-icon view over one model.

#include <QWidget>

class QTableView;

class Lister : public QWidget {
    Q_OBJECT
public:
    explicit Lister(QWidget *parent = nullptr);
    QTableView *report() const { return m_report; }

private:
    QTableView *m_report;
};
