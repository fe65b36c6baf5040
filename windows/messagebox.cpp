#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace {

QWidget *topLevelWindow()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        if (w->isVisible() && w->isWindow() && !w->inherits("QMenu"))
            return w;
    return nullptr;
}

int showBox(const MessageBoxRequest &request)
{
    QMessageBox box(request.owner ? request.owner : topLevelWindow());
    box.setWindowTitle(request.caption);
    // Texts carry file names and URLs, which may hold anything, markup included.
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    box.setWindowModality(Qt::ApplicationModal);
    switch (request.flags & 0xF0) {
    case MB::ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB::ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB::ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB::ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((request.flags & 0xF) == MB::YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    QPushButton *skip =
        request.skipCaption.isEmpty() ? nullptr : box.addButton(request.skipCaption, QMessageBox::RejectRole);
    box.exec();
    return skip && box.clickedButton() == skip ? IDIGNORE : IDOK;
}

} // namespace

int MessageBoxAnswerer::answer(const MessageBoxRequest &request)
{
    return showBox(request);
}
