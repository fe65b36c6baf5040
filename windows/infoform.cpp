#include "infoform.h"

#include "fonts.h"
#include "searchanimation.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

Tfrm_showinfo::Tfrm_showinfo(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frm_showinfo"));
    setWindowTitle(QStringLiteral("Driftcomb信息"));
    setFont(InterfaceFont(12));

    Animate1 = new SearchAnimation(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    Animate1->setGeometry(20, 1, 81, 49);
    Animate1->hide();

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(20, 40, 321, 37);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setTextFormat(Qt::PlainText);

    FormCreate();
}

void Tfrm_showinfo::FormCreate()
{
    setFixedSize(ClientWidth, OuterHeight);
}

void Tfrm_showinfo::ShowProgress(const QString &message, int animation)
{
    if (isVisible())
        return;
    if (animation != NoAnimation) {
        Animate1->show();
        Animate1->setClip(animation);
        Animate1->start();
        Label1->move(Label1->x(), Animate1->y() + Animate1->height() + 10);
    } else {
        Label1->move(Label1->x(), 40);
    }
    Label1->setText(message);
    show();
    QCoreApplication::processEvents();
}

void Tfrm_showinfo::HideProgress()
{
    Label1->clear();
    Animate1->hide();
    Animate1->setClip(SearchAnimation::NoClip);
    Animate1->stop();
    hide();
}

void Tfrm_showinfo::paintEvent(QPaintEvent *)
{
    // Without a frame of its own the window draws a thin raised edge, so that it stands
    // out from whatever lies beneath.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

void Tfrm_showinfo::showEvent(QShowEvent *event)
{
    if (const QScreen *where = screen())
        move(where->geometry().center() - rect().center());
    QWidget::showEvent(event);
}
