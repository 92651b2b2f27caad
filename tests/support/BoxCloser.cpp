#include "BoxCloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

BoxCloser::BoxCloser(int intervalMs)
{
    timer.setInterval(intervalMs);
    connect(&timer, &QTimer::timeout, this, &BoxCloser::poll);
    timer.start();
}

void BoxCloser::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box->property("brolt_seen").toBool())
        return;
    box->setProperty("brolt_seen", true);
    const Box b{box->icon(), box->windowTitle(), box->text()};
    seen.append(b);
    if (onBox)
        onBox(b);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->accept();
}

QStringList BoxCloser::titles() const
{
    QStringList out;
    for (const Box& b : seen)
        out << b.title;
    return out;
}

bool BoxCloser::waitFor(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return seen.size() >= count; }, timeoutMs);
}
