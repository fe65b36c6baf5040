#include "logoform.h"

#include "catalogue/text.h"

#include "designlabel.h"
#include "fonts.h"
#include "gradient.h"
#include "pictures.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace {

DesignLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new DesignLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->fitToText();
    return label;
}

} // namespace

Tfrm_logo::Tfrm_logo(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frm_logo"));
    setWindowTitle(QStringLiteral("Tidewrack"));
    setWindowIcon(ProgramIcon());
    setFont(InterfaceFont(12));
    setFixedSize(DesignWidth, DesignHeight);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(12, 24, 41, 45);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(ProgramIcon().pixmap(32, 32));

    // The highlight copy lies under the dark one, one pixel to the left: an embossed title.
    const QFont title = KaiFont(16, true);
    Label2 = new DesignLabel(QStringLiteral("Tidewrack"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(title);
    Label5 = new DesignLabel(QStringLiteral("Tidewrack"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setFont(title);
    QPalette highlight = Label2->palette();
    highlight.setColor(QPalette::WindowText, highlight.color(QPalette::Light));
    Label2->setPalette(highlight);
    QPalette dark = Label5->palette();
    dark.setColor(QPalette::WindowText, dark.color(QPalette::Text));
    Label5->setPalette(dark);
    Label2->move(57, 26);
    Label2->fitToText();
    Label5->move(58, 26);
    Label5->fitToText();

    Label8 = MakeLabel(this, "Label8", QStringLiteral("Tidewrack"), 59, 50);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("版本 1.00"), 135, 50);
    Label4 = MakeLabel(this, "Label4", QStringLiteral("作者：潮汐工作室"), 59, 116);
    Label6 = MakeLabel(this, "Label6", QStringLiteral("Email"), 59, 134);
    Label1 = MakeLabel(this, "Label1", authorMail(), 91, 133);
    Label1->setLink(true);
    Label1->fitToText();
    Label7 = MakeLabel(this, "Label7", QStringLiteral("主页"), 59, 152);
    Lab_mail = new DesignLabel(homePage(), this);
    Lab_mail->setObjectName(QStringLiteral("Lab_mail"));
    Lab_mail->setWordWrap(true);
    Lab_mail->setLink(true);
    Lab_mail->setGeometry(91, 152, 230, Lab_mail->lineHeight());
    Lab_mail->fitToText();
    // The addresses stand where the design has them, or further right where the words before
    // them come out wider in the font used here: "Email" would run into the mail address.
    const int addressLeft =
        std::max({Label1->x(), Label6->geometry().right() + 1 + WordGap, Label7->geometry().right() + 1 + WordGap});
    const int addressRight = Lab_mail->geometry().right();
    Label1->move(addressLeft, Label1->y());
    Lab_mail->setGeometry(addressLeft, Lab_mail->y(), addressRight + 1 - addressLeft, Lab_mail->height());
    Lab_mail->fitToText();
    Lab_shuo = MakeLabel(this, "Lab_shuo", QStringLiteral("关于Tidewrack的说明"), 60, 184);
    Lab_shuo->hide();

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(59, 200, 298, 167);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette notes = Memo1->palette();
    notes.setColor(QPalette::Base, notes.color(QPalette::ToolTipBase));
    notes.setColor(QPalette::Text, notes.color(QPalette::ToolTipText));
    Memo1->setPalette(notes);

    connect(Label1, &DesignLabel::clicked, this, &Tfrm_logo::Label1Click);
    connect(Lab_mail, &DesignLabel::clicked, this, &Tfrm_logo::Lab_mailClick);

    FormCreate();
}

void Tfrm_logo::FormCreate()
{
    // Key preview: the window sees every key before the control that has the focus.
    const auto children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(this);
}

void Tfrm_logo::prepareSplash()
{
    // A frameless window has no border below the client area to swallow the top of the
    // notes area, so the notes are hidden outright.
    Memo1->hide();
    setOuterHeight(Lab_mail->y() + Lab_mail->height() + 40);
}

bool Tfrm_logo::prepareAbout(const QString &readmePath)
{
    Lab_shuo->show();
    Memo1->show();
    setOuterHeight(Memo1->y() + Memo1->height() + 20);
    Memo1->clear();
    QFile file(readmePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    Memo1->setPlainText(DecodeLocalText(bytes));
    return true;
}

QString Tfrm_logo::readmePath(const QString &appDir)
{
    const QString beside = QDir(appDir).filePath(QStringLiteral("readme.txt"));
    if (QFile::exists(beside))
        return beside;
    const QString installed =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("tidewrack/readme.txt"));
    return installed.isEmpty() ? beside : installed;
}

QString Tfrm_logo::authorMail()
{
    return QStringLiteral("author@tidewrack.example");
}

QString Tfrm_logo::homePage()
{
    return QStringLiteral("https://tidewrack.example/");
}

void Tfrm_logo::mailToAuthor()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + authorMail()));
}

void Tfrm_logo::openHomePage()
{
    QDesktopServices::openUrl(QUrl(homePage()));
}

void Tfrm_logo::Label1Click()
{
    mailToAuthor();
}

void Tfrm_logo::Lab_mailClick()
{
    openHomePage();
}

void Tfrm_logo::setOuterHeight(int height)
{
    setFixedSize(DesignWidth, height);
}

bool Tfrm_logo::FormKeyDown(int key)
{
    if (key != Qt::Key_Escape)
        return false;
    close();
    return true;
}

bool Tfrm_logo::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && FormKeyDown(static_cast<QKeyEvent *>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void Tfrm_logo::keyPressEvent(QKeyEvent *event)
{
    if (!FormKeyDown(event->key()))
        QDialog::keyPressEvent(event);
}

void Tfrm_logo::mouseDoubleClickEvent(QMouseEvent *)
{
    close();
}

void Tfrm_logo::paintEvent(QPaintEvent *)
{
    // The system colours are read at every paint, so a change of them shows at once.
    const QPalette colours = QGuiApplication::palette();
    QPainter painter(this);
    // A window without a title bar has no frame from the window manager: a thin raised edge
    // of its own sets it off from what lies beneath, the gradient fills the rest.
    PaintGradient(painter, rect().adjusted(FrameWidth, FrameWidth, -FrameWidth, -FrameWidth),
                  colours.color(QPalette::Base), colours.color(QPalette::Dark));
    painter.setPen(colours.color(QPalette::Light));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(colours.color(QPalette::Dark));
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

void Tfrm_logo::showEvent(QShowEvent *event)
{
    if (const QScreen *where = screen())
        move(where->geometry().center() - rect().center());
    QDialog::showEvent(event);
}
