// Control time: the countdown, its corrections from the host and its end; giving the
// reservation back.
#include "Session.h"

#include "Alerts.h"
#include "TimeReplies.h"
#include "VideoWindow.h"

#include <QFont>

namespace {

const char* const expiryText =
    "\nYour control time has expired. If you wish to continue\n"
    "controlling the microscope, you may choose \"New Session\"\n"
    "from the File menu to schedule additional time.";

} // namespace

void Session::startTimer()
{
    // A re-read still under way when the count ran out: the session is over, nothing restarts.
    if (expired)
        return;
    // A reply without a number is no answer: like a failed transfer, it starts no countdown and
    // leaves a running one as it is.
    const auto seconds = timeConn.succeeded() ? parseRemainingSeconds(timeConn.data(), timeConn.length())
                                              : std::nullopt;
    if (!seconds) {
        sysInfoBox->append(QStringLiteral("***Error - Unable to query server for remaining control time"));
        return;
    }
    secondsLeft = *seconds;
    if (!controlTimer.isActive()) {
        // Only the first good reply gets here: the timer runs from then on until the expiry,
        // after which replies are ignored, so tickme is connected once.
        connect(&controlTimer, &QTimer::timeout, this, &Session::tickme, Qt::UniqueConnection);
        controlTimer.setTimerType(Qt::PreciseTimer);
        controlTimer.setSingleShot(false);
        controlTimer.start(1000);
    }
}

void Session::tickme()
{
    --secondsLeft;
    const int shown = secondsLeft < 0 ? 0 : secondsLeft;
    QFont bold;
    bold.setBold(true);
    timeLabel->setFont(bold);
    timeLabel->setText(QString::asprintf("%02i:%02i", shown / 60, shown % 60));

    if (secondsLeft > 0) {
        if (secondsLeft % 30 == 0) {
            timeConn.setUrl(iservUrl(QStringLiteral("f=t")));
            timeConn.fetch();
        }
        return;
    }

    secondsLeft = 0;
    expired = true;
    disableControls();
    sysInfoBox->append(QString::fromLatin1(expiryText));
    controlTimer.stop();
    if (videoWindow)
        videoWindow->disableResSwitching();
    Alerts::warning(this, QStringLiteral("Time Expired"), QString::fromLatin1(expiryText));
}

void Session::cancelShedule()
{
    cancelConn.setUrl(iservUrl(QStringLiteral("f=rmSch") + authPart()));
    cancelConn.fetch();
}

void Session::cancelSheduleResponse()
{
    // A failed transfer's body (an error page, say) is no answer of the host's.
    if (cancelConn.succeeded() && cancelAccepted(cancelConn.data(), cancelConn.length())) {
        Alerts::information(this, QStringLiteral("Schedule cancelled."),
                            QStringLiteral("Your current schedule for \"") + si.scope.name
                                + QStringLiteral("\" scope will be cancelled within 30 seconds. \n"
                                                 "The server will reject you as unauthorized for "
                                                 "scheduling for at least five minutes."));
        return;
    }
    Alerts::warning(this, QStringLiteral("Cancellation failed."),
                    QStringLiteral("The server cannot cancel your schedule at the meantime."));
}
