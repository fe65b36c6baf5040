#pragma once
// A flat toolbar button that draws its picture with a short caption under it in white over
// the toolbar's gradient. A faint shadow keeps the white caption readable on the light top.

#include <QToolButton>

class ToolBarButton : public QToolButton {
    Q_OBJECT
public:
    ToolBarButton(QAction *action, const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_caption;
    bool m_hover = false;
};
