#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Records every modal message box that opens and closes it with its OK button.
class BoxCloser : public QObject
{
    Q_OBJECT
public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };

    explicit BoxCloser(int intervalMs = 5);

    QList<Box> seen;
    // Runs while a box is open, before it is closed (to act inside the nested event loop).
    std::function<void(const Box&)> onBox;

    QStringList titles() const;
    bool waitFor(int count, int timeoutMs = 5000);

private:
    void poll();
    QTimer timer;
};
