#pragma once

#include "Auth.h"
#include "ui_ReserveTimeWin.h"

#include <QDialog>
#include <QString>

class MyHTTP;

// The scheduling dialog: one microscope's booked reservations and the booking of a further slot.
// Closing it ends it: it deletes itself once no booking of its own is on the way. A booking still
// on the way completes hidden: schedDone announces it, and its outcome is shown in its box
// before the dialog goes.
class ReserveTimeWin : public QDialog, public Ui::ReserveTimeWin
{
    Q_OBJECT
public:
    explicit ReserveTimeWin(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                            Qt::WindowFlags fl = {});
    ~ReserveTimeWin() override;

    virtual bool checkConnection(MyHTTP* request);

    // How many seconds the server's clock is ahead of ours.
    qint64 serverClockOffset() const { return clockOffset; }
    int maximumMinutes() const { return maxMinutes; }
    QString scopeName() const { return scope; }             // as shown
    QByteArray scopeWireName() const { return wireScope; }  // as the host named it

    // setInfo with the typed texts as they are and the microscope as the host's bytes.
    void setInfo(const QString& host, const QByteArray& wireScope, const QString& login,
                 const QString& password, int maxMinutes, qint64 serverTime);

    // A date and time in local time, in the toolkit's text form with the locale's short names.
    static QString textDate(qint64 epoch);

signals:
    void schedDone(long wait, long length);

public slots:
    virtual void schedTimeSlot(long start, int minutes);
    virtual void refreshBtn_clicked();
    virtual void resTimeResponse();
    virtual void getSchedResponse();
    virtual void setInfo(const char* host, const char* scope, const char* login, const char* password,
                         int maxMinutes, qint64 serverTime);

protected slots:
    virtual void languageChange();

protected:
    void done(int result) override;

private slots:
    virtual void clearTable();
    virtual void getSticket();
    virtual void gotSticket();

private:
    void init();
    void destroy();
    void sendReservation(qint64 start, int minutes);
    bool bookingOnTheWay() const;
    void releaseWhenIdle();
    // The dialog's boxes, also while it is closed and its booking completes. False: the dialog
    // is gone.
    bool warn(const QString& caption, const QString& text);
    bool inform(const QString& caption, const QString& text);

    qint64 clockOffset = 0;
    int maxMinutes = 0;
    QString title;
    QString password;
    MyHTTP* resConn = nullptr;
    Auth auth;
    QString host;
    QString login;
    QString scope;
    QByteArray wireScope;
    MyHTTP* schedConn = nullptr;
    MyHTTP* sticketConn = nullptr;

    // A reservation whose ticket arrived while the schedule was downloading: sent after it.
    bool pendingReservation = false;
    qint64 pendingStart = 0;
    int pendingMinutes = 0;

    bool closed = false;
    int boxesOpen = 0;
    friend struct ReleaseWhenIdle;
};
