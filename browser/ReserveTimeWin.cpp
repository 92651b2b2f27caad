#include "ReserveTimeWin.h"

#include "Alerts.h"
#include "Clock.h"
#include "HostBytes.h"
#include "MyHTTP.h"
#include "Replies.h"
#include "Url.h"

#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QTableWidgetItem>
#include <QtDebug>

namespace {

const char* const connectionFailureText =
    "Error connecting to the Kelvry server.\nPlease contact the server administrator. (file rtw)";

// Duration text: whole minutes, then seconds in two digits (truncating division).
QString durationText(qint64 seconds)
{
    return QString::asprintf("%lld:%02lld", static_cast<long long>(seconds / 60),
                             static_cast<long long>(seconds % 60));
}

} // namespace

// Ends a reply handler: a closed dialog whose booking is over goes away.
struct ReleaseWhenIdle
{
    explicit ReleaseWhenIdle(ReserveTimeWin* w) : win(w) {}
    ~ReleaseWhenIdle()
    {
        if (win)
            win->releaseWhenIdle();
    }
    QPointer<ReserveTimeWin> win;
};

ReserveTimeWin::ReserveTimeWin(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setModal(modal);
    setupUi(this);
    languageChange();
    resize(QSize(450, 292).expandedTo(minimumSizeHint()));

    connect(refreshBtn, &QPushButton::clicked, this, &ReserveTimeWin::refreshBtn_clicked);
    connect(reserveBtn, &QPushButton::clicked, this, &ReserveTimeWin::getSticket);
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);

    init();
}

ReserveTimeWin::~ReserveTimeWin()
{
    destroy();
}

void ReserveTimeWin::languageChange()
{
    retranslateUi(this);
}

void ReserveTimeWin::init()
{
    resConn = new MyHTTP;
    schedConn = new MyHTTP;
    sticketConn = new MyHTTP;

    connect(resConn, qOverload<>(&MyHTTP::done), this, &ReserveTimeWin::resTimeResponse);
    connect(schedConn, qOverload<>(&MyHTTP::done), this, &ReserveTimeWin::getSchedResponse);
    connect(sticketConn, qOverload<>(&MyHTTP::done), this, &ReserveTimeWin::gotSticket);

    schedTable->setColumnWidth(0, 165);
    schedTable->setColumnWidth(1, 60);
    schedTable->setColumnWidth(2, 165);

    dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(Clock::now()));
}

void ReserveTimeWin::destroy()
{
    delete resConn;
    delete schedConn;
    delete sticketConn;
    resConn = schedConn = sticketConn = nullptr;
}

QString ReserveTimeWin::textDate(qint64 epoch)
{
    return QLocale::system().toString(QDateTime::fromSecsSinceEpoch(epoch),
                                      QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
}

void ReserveTimeWin::done(int result)
{
    QDialog::done(result);
    closed = true;
    releaseWhenIdle();
}

bool ReserveTimeWin::bookingOnTheWay() const
{
    return sticketConn->isBusy() || resConn->isBusy() || pendingReservation;
}

void ReserveTimeWin::releaseWhenIdle()
{
    // A box still open has a reply handler of this dialog below it.
    if (closed && boxesOpen == 0 && !bookingOnTheWay())
        deleteLater();          // a schedule download still running is abandoned
}

bool ReserveTimeWin::warn(const QString& caption, const QString& text)
{
    ++boxesOpen;
    if (!Alerts::warning(this, caption, text))
        return false;
    --boxesOpen;
    return true;
}

bool ReserveTimeWin::inform(const QString& caption, const QString& text)
{
    ++boxesOpen;
    if (!Alerts::information(this, caption, text))
        return false;
    --boxesOpen;
    return true;
}

bool ReserveTimeWin::checkConnection(MyHTTP* request)
{
    if (request->succeeded())
        return true;
    warn(QStringLiteral("Connection Failure"), QString::fromLatin1(connectionFailureText));
    return false;
}

// The texts as UTF-8, the microscope as the host's bytes (up to a NUL: the overload below takes
// any name).
void ReserveTimeWin::setInfo(const char* hostText, const char* scopeText, const char* loginText,
                             const char* passwordText, int maxMin, qint64 serverTime)
{
    setInfo(QString::fromUtf8(hostText), QByteArray(scopeText), QString::fromUtf8(loginText),
            QString::fromUtf8(passwordText), maxMin, serverTime);
}

void ReserveTimeWin::setInfo(const QString& hostText, const QByteArray& scopeBytes, const QString& loginText,
                             const QString& passwordText, int maxMin, qint64 serverTime)
{
    login = loginText;
    wireScope = scopeBytes;
    scope = HostBytes::shown(scopeBytes);
    host = hostText;
    password = passwordText;
    // A negative maximum from the host would allow bookings of negative length.
    maxMinutes = qMax(0, maxMin);

    title = QStringLiteral("Schedule for Scope: ") + scope;
    scopeLabel->setText(title);

    // Lowers the minimum too when the maximum is below it, and bounds the value.
    durationSpinBox->setMaximum(maxMinutes);

    // How far the server's clock is ahead of ours. (Reading the UTC wall clock as a local time
    // instead would carry the zone's offset along, and be an hour wrong across a change of
    // daylight saving time.)
    clockOffset = serverTime - Clock::now();
}

// ---- schedule ----

void ReserveTimeWin::refreshBtn_clicked()
{
    const QString url = Url(host).raw(QStringLiteral("/cgi-bin/iserv?f=getschd")).field(QStringLiteral("&s="), wireScope);
    scopeLabel->setText(QStringLiteral("Downloading latest schedule..."));
    schedConn->setUrl(url);
    schedConn->fetch();
}

void ReserveTimeWin::clearTable()
{
    schedTable->clearContents();
}

void ReserveTimeWin::getSchedResponse()
{
    const ReleaseWhenIdle release(this);
    QPointer<ReserveTimeWin> self(this);
    // A closed dialog reports only its booking.
    if (closed ? schedConn->succeeded() : checkConnection(schedConn)) {
        const QList<ScheduleRow> rows = parseSchedule(schedConn->data(), schedConn->length());
        if (rows.isEmpty()) {
            clearTable();
        } else {
            // The table shows exactly the reservations of this reply.
            schedTable->setRowCount(int(rows.size()));
            for (int r = 0; r < rows.size(); ++r) {
                const ScheduleRow& row = rows.at(r);
                schedTable->setItem(r, 0, new QTableWidgetItem(textDate(row.start)));
                schedTable->setItem(r, 1, new QTableWidgetItem(durationText(row.duration)));
                schedTable->setItem(r, 2, new QTableWidgetItem(textDate(row.start + row.duration)));
            }
        }
    }
    if (!self)
        return;
    scopeLabel->setText(title);

    if (pendingReservation) {
        pendingReservation = false;
        schedTimeSlot(long(pendingStart), pendingMinutes);
    }
}

// ---- booking ----

void ReserveTimeWin::getSticket()
{
    auth.setKey(password);
    if (sticketConn->isBusy()) {
        qDebug("sticketConn busy.");
        return;
    }
    sticketConn->setUrl(Url(host)
                            .raw(QStringLiteral("/cgi-bin/iserv?f=sticket"))
                            .field(QStringLiteral("&s="), wireScope)
                            .field(QStringLiteral("&l="), login));
    sticketConn->fetch();
}

void ReserveTimeWin::gotSticket()
{
    const ReleaseWhenIdle release(this);
    if (!sticketConn->succeeded()) {
        qDebug("sticket download failed");
        checkConnection(sticketConn);
        return;
    }
    const auto ticket = parseSchedulingTicket(sticketConn->data(), sticketConn->length());
    if (!ticket) {
        warn(QStringLiteral("Scheduling Failed"), QStringLiteral("The server rejected you as unauthorized for scheduling."));
        return;
    }
    auth.setToken(*ticket);

    // The entered local date and time, in the server's clock.
    const qint64 start = dateTimeEdit->dateTime().toSecsSinceEpoch() + clockOffset;
    schedTimeSlot(long(start), durationSpinBox->value());
}

void ReserveTimeWin::schedTimeSlot(long start, int minutes)
{
    if (resConn->isBusy())
        return;
    if (schedConn->isBusy()) {
        // Sent once the schedule download has been handled.
        pendingReservation = true;
        pendingStart = start;
        pendingMinutes = minutes;
        return;
    }
    sendReservation(start, minutes);
}

void ReserveTimeWin::sendReservation(qint64 start, int minutes)
{
    const qint64 win = qint64(minutes) * 60;
    const QString a = auth.requestString();
    resConn->setUrl(Url(host)
                        .raw(QStringLiteral("/cgi-bin/iserv?f=schdt"))
                        .field(QStringLiteral("&s="), wireScope)
                        .raw(QStringLiteral("&date=") + QString::number(start))
                        .raw(QStringLiteral("&win=") + QString::number(win))
                        .field(QStringLiteral("&l="), login)
                        .raw(QStringLiteral("&auth=") + a));
    resConn->fetch();
}

void ReserveTimeWin::resTimeResponse()
{
    const ReleaseWhenIdle release(this);
    if (!checkConnection(resConn))
        return;
    const BookingReply reply = parseBooking(resConn->data(), resConn->length());
    switch (reply.kind) {
    case BookingReply::Overlap:
        warn(QStringLiteral("Scheduling Problem"),
             QStringLiteral("The time slot you requested overlaps with an existing reservation.\n"
                            "Please adjust your starting or duration times. Also, refreshing the\n"
                            "schedule may show new reservations that are blocking yours."));
        return;
    case BookingReply::NoTicket:
        warn(QStringLiteral("Authorization Problem"),
             QStringLiteral("The server cannot allocate you a session ticket currently.\n"
                            "Please adjust any errors and try again later."));
        return;
    case BookingReply::Refused:
        warn(QStringLiteral("Scheduling Problem"), QStringLiteral("The server refused the reservation."));
        return;
    case BookingReply::Unreadable:
        if (warn(QStringLiteral("Connection Failure"), QString::fromLatin1(connectionFailureText)) && !closed)
            refreshBtn_clicked();
        return;
    case BookingReply::Booked:
        break;
    }

    QPointer<ReserveTimeWin> self(this);
    emit schedDone(long(reply.wait), long(reply.length));
    if (!self)
        return;
    if (!inform(QStringLiteral("Scheduling Successful"),
                QStringLiteral("The time slot you requested has been successfuly reserved."))
        || closed)
        return;
    refreshBtn_clicked();
}
