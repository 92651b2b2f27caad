// "Calibration Assist": the neighbour mosaic around the stage position and the calibration
// correction measured against it.
#include "Session.h"

#include "HostBytes.h"

#include "Alerts.h"
#include "NeighborGrid.h"
#include "NeighborVideo.h"
#include "StageFields.h"
#include "StageReplies.h"
#include "Url.h"

#include <QStatusBar>

void Session::handleNeighborButton()
{
    // A press while a scan still runs would restart it from a moved stage and put that frame
    // into the first tile.
    if (neighborBusy)
        return;
    neighborBusy = true;
    neighborsDone = false;          // until the last tile of this scan has arrived
    neighborTileUnread = false;
    if (neighborVideo)
        neighborVideo->show();
    disableControls();
    statusBar()->showMessage(QStringLiteral("Acquiring Neighbor Image..."));
    neighborCentre = physical;
    neighborIndex = 35;
    neighborJPEG.setURL(videoJPEG.url());
    connect(&neighborJPEG, &MyWebJPEG::failed, this, &Session::neighborFrameFailed, Qt::UniqueConnection);
    QImage none;
    startNextNeighbor(none);
}

void Session::startNextNeighbor(QImage& image)
{
    if (expired)
        return;
    // The frame of step neighborIndex + 1, a tile for steps 35 to 1. One that did not decode
    // leaves its tile empty: the scan goes on, but no correction is measured against the mosaic.
    if (neighborIndex >= 0 && neighborIndex < 35 && image.isNull())
        neighborTileUnread = true;
    if (neighborIndex < 0) {
        neighborBusy = false;
        neighborsDone = !neighborTileUnread;
        enableControls();
        statusBar()->clearMessage();
        return;
    }
    if (neighborVideo)
        neighborVideo->currentIndex = neighborIndex;

    const CameraField field = cameraField(si.scope.name);
    const float cx = neighborCentre.x;
    const float cy = neighborCentre.y;
    const GridPoint p = neighborStep(neighborIndex, cx, cy, field);
    if (neighborIndex == 0)
        highRes->setSelection(cx - 2 * field.width, cy - 3 * field.height, cx + 2 * field.width,
                              cy + 3 * field.height);

    sendBlockingMove(neighMoveConn, double(p.x), double(p.y), double(neighborCentre.z));
    highRes->markPoint(p.x, p.y);
    --neighborIndex;
}

void Session::neighMoveComplete()
{
    // A tile taken where the stage did not go would mislead the calibration.
    if (!neighMoveConn.succeeded() || moveRefused(neighMoveConn.data(), neighMoveConn.length())) {
        endNeighborScan(QStringLiteral("***Neighbor scan stopped: the microscope did not make a move.\n"));
        return;
    }
    neighborJPEG.get();
}

void Session::neighborFrameFailed()
{
    endNeighborScan(QStringLiteral("***Neighbor scan stopped: a video frame could not be fetched.\n"));
}

void Session::endNeighborScan(const QString& line, bool controlsBack)
{
    // No correction against an incomplete mosaic, nor a selection left from an earlier one.
    neighborIndex = -1;
    neighborBusy = false;
    neighborsDone = false;
    neighborScanCut = true;
    neighborTileUnread = false;
    highRes->showSelection = false;
    highRes->redraw();
    if (controlsBack && !expired)
        enableControls();
    statusBar()->clearMessage();
    sysInfoBox->append(line);
}

void Session::handleCorrectButton()
{
    const QString failed = QStringLiteral("Correction failed.");
    // Measured against a mosaic still being taken, the offset would be wrong, and the
    // correction's own stage moves would cross the scan's.
    if (neighborBusy) {
        Alerts::warning(this, failed,
                        QStringLiteral("The neighbor scan is still running.\n"
                                       "Click \"Reset Calibration\" when its mosaic is complete."));
        return;
    }
    if (!neighborsDone) {
        Alerts::warning(this, failed,
                        neighborTileUnread
                            ? QStringLiteral("A tile of the last neighbor scan could not be read.\n"
                                             "Click the \"Display Neighbor\" button again.")
                        : neighborScanCut
                            ? QStringLiteral("The last neighbor scan did not finish.\n"
                                             "Click the \"Display Neighbor\" button again.")
                            : QStringLiteral("You haven't clicked the \"Display Neighbor\" button yet."));
        return;
    }
    // The mosaic shows the slide under the microscope; measured against any other slide's
    // image the offset would be stored as that slide's calibration.
    if (curSlide.isEmpty() || curSlideWire != si.scope.wireSlides.value(0)
        || curSlide != HostBytes::shown(si.scope.wireSlides.value(0))) {
        Alerts::warning(this, failed,
                        QStringLiteral("The previews do not show the slide under the microscope.\n"
                                       "Click \"Show Available Slide\" on the \"Stack Info\" page first."));
        return;
    }
    // The offset in pixels is measured with the calibration in force: it must be this slide's.
    if (!highRes->calibrationRead()) {
        Alerts::warning(this, failed,
                        QStringLiteral("The slide's calibration is still being read.\nPlease try again in a moment."));
        return;
    }
    const auto x = typedNumber(xCoord->text());
    const auto y = typedNumber(yCoord->text());
    if (!x || !y) {
        Alerts::warning(this, failed, QStringLiteral("The X and Y fields must hold numbers."));
        return;
    }
    if (calibConn.isBusy()) {
        statusBar()->showMessage(QStringLiteral("A calibration correction is still under way."));
        return;
    }

    const float cx = neighborCentre.x;
    const float cy = neighborCentre.y;
    const double a = double(*x) * 10000.0;
    const double b = double(*y) * 10000.0;
    calDx = float(a - cx);
    calDy = float(b - cy);
    // Measured on the image itself: the view's clamp would shorten offsets near the edges.
    const QPoint p1 = highRes->physicalToImagePixel(CoordinateTriple(float(a), float(b), 0));
    const QPoint p0 = highRes->physicalToImagePixel(CoordinateTriple(cx, cy, 0));
    pixDx = float(p1.x() - p0.x());
    pixDy = float(p1.y() - p0.y());

    calibConn.setUrl(Url(si.host)
                         .raw(QStringLiteral("/cgi-bin/icount?f=ca"))
                         .raw(QStringLiteral("&xc=%1&yc=%2")
                                  .arg(double(pixDx), 0, 'f', 4)
                                  .arg(double(pixDy), 0, 'f', 4))
                         .field(QStringLiteral("&l="), si.login)
                         .field(QStringLiteral("&sli="), curSlideWire)
                         .field(QStringLiteral("&sc="), si.scope.wireName));
    calibConn.fetch();
    statusBar()->showMessage(QStringLiteral("The Kelvry system is correcting calibration, please be patient..."));
}

void Session::calibrationResponse()
{
    statusBar()->showMessage(QStringLiteral("Ready."));
    const QString failed = QStringLiteral("Correction failed.");
    if (!calibConn.succeeded()) {
        Alerts::warning(this, failed,
                        QStringLiteral("The Kelvry system could not be reached, or its answer was lost.\n"
                                       "Please check the calibration with \"Refresh Preview\"."));
        return;
    }
    switch (parseCalibrationReply(calibConn.data(), calibConn.length())) {
    case CalibrationReply::Corrected: {
        const QString terms = QStringLiteral("\n\n       dx: %1 mm (%3 Pixel)\n       dy: %2 mm (%4 Pixel)")
                                  .arg(QString::number(calDx * 0.0001, 'f', 4),
                                       QString::number(calDy * 0.0001, 'f', 4),
                                       QString::number(double(pixDx), 'f', 0),
                                       QString::number(double(pixDy), 'f', 0));
        Alerts::information(this, QStringLiteral("Correction Successful."),
                            QStringLiteral("The Kelvry system has successfully reset the calibration for the slide ")
                                + curSlide + QStringLiteral(".\nThe translation terms are as follows:") + terms);
        break;
    }
    case CalibrationReply::Unavailable:
        Alerts::warning(this, failed,
                        QStringLiteral("The Kelvry system cannot reset calibration temporarily, please try again "
                                       "later or contact system administrator."));
        break;
    case CalibrationReply::NoFiducials:
        Alerts::warning(this, failed, QStringLiteral("Cannot open fiducial file."));
        break;
    case CalibrationReply::Other:
        break;
    }
}
