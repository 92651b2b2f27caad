// "Image Acquisition": the acquisition rectangle, its sampling-point count and job creation.
#include "Session.h"

#include "Alerts.h"
#include "JobGrid.h"
#include "JobReplies.h"
#include "ServiceConfig.h"
#include "StageFields.h"
#include "Url.h"

#include <QDebug>
#include <QStatusBar>
#include <QUrl>

#include <climits>

namespace {

QString cornerCaption()
{
    return QStringLiteral("Error: corner setting.");
}

QString jobCaption()
{
    return QStringLiteral("Error: Cannot create job.");
}

// The X and Y fields as the x and y of `corner`; false, with a warning and `corner` as it
// was, when either is not a number.
bool readCorner(Session* s, CoordinateTriple& corner)
{
    const auto x = typedNumber(s->xCoord->text());
    const auto y = typedNumber(s->yCoord->text());
    if (!x || !y) {
        Alerts::warning(s, cornerCaption(), QStringLiteral("The X and Y fields must hold numbers."));
        return false;
    }
    corner.x = *x;
    corner.y = *y;
    return true;
}

} // namespace

void Session::setC1()
{
    if (!readCorner(this, corner1))
        return;
    const bool corner2Given = corner2.x != 0 || corner2.y != 0;
    if (corner2Given && (corner1.x > corner2.x || corner1.y > corner2.y)) {
        corner1.x = 0;
        corner1.y = 0;
        Alerts::warning(this, cornerCaption(), QStringLiteral("Bad top left corner compared with the bottom right corner."));
        return;
    }
    highRes->setCorner1(corner1);
    if (corner2.x != 0 && corner2.y != 0)
        calcNumMovies();
    if (corner2Set) {
        PushButton6->setText(QStringLiteral("Change Top Left Corner"));
        PushButton7->setText(QStringLiteral("Change Bottom Right Corner"));
    }
    corner1Set = true;
    corner2Set = false;
}

void Session::setC2()
{
    if (!readCorner(this, corner2))
        return;
    if (corner2.x < corner1.x || corner2.y < corner1.y) {
        qDebug() << "bad bottom right corner";
        corner2.x = 0;
        corner2.y = 0;
        Alerts::warning(this, cornerCaption(), QStringLiteral("Bad bottom right corner compared with the top left corner."));
        return;
    }
    highRes->setCorner2(corner2);
    calcNumMovies();
    if (corner1Set) {
        PushButton6->setText(QStringLiteral("Change Top Left Corner"));
        PushButton7->setText(QStringLiteral("Change Bottom Right Corner"));
    }
    corner2Set = true;
    corner1Set = false;
}

void Session::calcNumMovies()
{
    const int d = densityBox->value();
    highRes->setLinearDensity(d);
    movieCount = 0;
    const auto count = samplingPointCount(corner1.x, corner1.y, corner2.x, corner2.y, d);
    if (count && *count <= INT_MAX)
        movieCount = int(*count);
    else
        statusBar()->showMessage(QStringLiteral("The rectangle holds too many sampling points."));
    totalBox->setText(QString::number(movieCount));
    highRes->updateSelection();
}

void Session::handleJobReset()
{
    corner1.x = 0;
    corner1.y = 0;
    corner2.x = 0;
    corner2.y = 0;
    highRes->setCorner2(corner2);
    highRes->setCorner1(corner1);
    highRes->setLinearDensity(0);
    highRes->corner1Set = false;
    highRes->corner2Set = false;
    totalBox->setText(QStringLiteral("0"));
    calcNumMovies();
    highRes->updateSelection();
    PushButton6->setText(QStringLiteral("Set Top Left Corner"));
    PushButton7->setText(QStringLiteral("Set Bottom Right Corner"));
    corner1Set = false;
    corner2Set = false;
}

void Session::filterControl(int state)
{
    filterState = state;
}

void Session::handleCreateJob()
{
    const QString name = jobNameEdit->text().simplified();
    const QString strain = strainEdit->text().simplified();
    const bool library = si.login == QLatin1String("library");
    if (name.isEmpty()) {
        Alerts::warning(this, jobCaption(), QStringLiteral("You must enter a name for your job."));
        return;
    }
    if (library && strain.isEmpty()) {
        Alerts::warning(this, jobCaption(),
                        QStringLiteral("You must enter a strain name the current slide belongs to.\n"
                                       "You can get the information at ")
                            + QUrl(QStringLiteral(BROLT_HOMEPAGE)).host() + QLatin1Char('.'));
        return;
    }
    // One request per press: the request object carries one transfer at a time.
    auto jobRequestBusy = [this] {
        if (!createJobConn.isBusy())
            return false;
        statusBar()->showMessage(QStringLiteral("The previous job request is still under way."));
        return true;
    };

    // The name goes out as typed, blanks included.
    const QString typedName = jobNameEdit->text();
    if (filterState == 0) {
        if (movieCount <= 0)
            return;
        if (si.scope.wireSlides.isEmpty()) {
            statusBar()->showMessage(QStringLiteral("The microscope has no slide to create the job on."));
            return;
        }
        if (jobRequestBusy())
            return;
        const QString query = QStringLiteral("&ld=%1&tlx=%2&tly=%3&brx=%4&bry=%5")
                                  .arg(densityBox->value())
                                  .arg(double(corner1.x) * 10000.0, 0, 'f', 4)
                                  .arg(double(corner1.y) * 10000.0, 0, 'f', 4)
                                  .arg(double(corner2.x) * 10000.0, 0, 'f', 4)
                                  .arg(double(corner2.y) * 10000.0, 0, 'f', 4);
        createJobConn.setUrl(iservUrl(QStringLiteral("f=cj") + authPart() + query + QStringLiteral("&n=")
                                      + Url::escapeValue(typedName) + QStringLiteral("&sli=")
                                      + Url::escapeBytes(si.scope.wireSlides.first())));
        createJobConn.fetch();
        return;
    }

    statusBar()->showMessage(
        QStringLiteral("The Kelvry system is filtering nonsense image stack(s) you may acquire, please be patient..."));
    QString good;
    QString bad;
    const HighResPreview::JobPoints result =
        highRes->buildJobPoints(corner1, corner2, densityBox->value(), si.login, name, strain, good, bad);
    statusBar()->showMessage(QStringLiteral("Ready."));
    if (result != HighResPreview::JobPoints::Listed && result != HighResPreview::JobPoints::Written) {
        Alerts::warning(this, jobCaption(), highRes->jobPointsMessage(result));
        return;
    }
    if (movieCount <= 0 || library)
        return;
    // Under "library" the job went to the local files; the request names the slide shown.
    if (curSlide.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("No slide is shown to filter the job on."));
        return;
    }
    if (jobRequestBusy())
        return;
    createJobConn.setUrl(iservUrl(QStringLiteral("f=cjf") + authPart()
                                  + QStringLiteral("&stl1=%1&stl2=%2").arg(good.size()).arg(bad.size())
                                  + QStringLiteral("&sts1=") + Url::escapeValue(good) + QStringLiteral("&sts2=")
                                  + Url::escapeValue(bad) + QStringLiteral("&n=") + Url::escapeValue(typedName)
                                  + QStringLiteral("&sli=") + Url::escapeBytes(curSlideWire)));
    createJobConn.fetch();
}

void Session::createJobResponse()
{
    if (!createJobConn.succeeded()) {
        // The name and the rectangle stay, so that the user can send the job again. A status that
        // failed the transfer is the host's (or its web server's) refusal.
        const int status = createJobConn.httpStatus();
        QString what = QStringLiteral("The Kelvry server could not be reached, or its answer was lost.");
        if (status >= 300) {
            const QString reason = createJobConn.httpReason();
            what = QStringLiteral("The Kelvry server refused the job request (") + QString::number(status)
                + (reason.isEmpty() ? QString() : QLatin1Char(' ') + reason) + QStringLiteral(").");
        }
        Alerts::warning(this, jobCaption(),
                        what + QStringLiteral("\nPlease look for the job in \"Display User Job\" before you send it again."));
        return;
    }
    const JobReply kind = parseJobReply(createJobConn.data(), createJobConn.length());
    if (kind == JobReply::Exists) {
        Alerts::warning(this, jobCaption(),
                        QStringLiteral("The job name \"") + jobNameEdit->text()
                            + QStringLiteral("\" has existed in the Kelvry server.\n Please select another job name to "
                                             "try again!"));
        return;
    }
    if (kind == JobReply::Other)
        return;
    jobNameEdit->clear();
    handleJobReset();
    if (kind == JobReply::Nonsense)
        Alerts::warning(this, jobCaption(), QStringLiteral("Nonsense image stack(s)."));
    else if (kind == JobReply::TooLarge)
        Alerts::warning(this, jobCaption(), QStringLiteral("********Job too large********"));
    else
        Alerts::information(this, QStringLiteral("Job waiting."),
                            QStringLiteral("You may receive an email for your job information as soon as your job is "
                                           "complete."));
}
