#include "Alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace {

int boxesOpen = 0;
int beepCount = 0;

bool show(QMessageBox::Icon icon, QWidget* parent, const QString& caption, const QString& text)
{
    QPointer<QWidget> owner(parent);
    QPointer<QMessageBox> box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);     // texts may hold names from the host: never markup
    ++boxesOpen;
    box->exec();
    --boxesOpen;
    delete box;                 // null when the parent took it down
    return parent == nullptr || !owner.isNull();
}

} // namespace

bool Alerts::warning(QWidget* parent, const QString& caption, const QString& text)
{
    return show(QMessageBox::Warning, parent, caption, text);
}

bool Alerts::information(QWidget* parent, const QString& caption, const QString& text)
{
    return show(QMessageBox::Information, parent, caption, text);
}

int Alerts::openBoxes()
{
    return boxesOpen;
}

void Alerts::beep()
{
    ++beepCount;
    QApplication::beep();
}

int Alerts::beeps()
{
    return beepCount;
}
