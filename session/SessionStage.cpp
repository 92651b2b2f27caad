// The stage loop: moves and autofocus on moveConn, position polls until the stage is at rest,
// a frame at the end of every command; the controls are off from the command to the frame.
#include "Session.h"

#include "FieldText.h"
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "StageFields.h"
#include "StageReplies.h"
#include "VideoWindow.h"

#include <QStatusBar>

void Session::sendMove(const QString& command)
{
    // A command given while another runs is dropped by the busy request object.
    moveConn.setUrl(iservUrl(command + authPart()));
    moveConn.fetch();
}

void Session::sendBlockingMove(MyHTTP& conn, double x, double y, double z)
{
    conn.setUrl(iservUrl(QString::asprintf("f=m&b=y&x=%f&y=%f&z=%f", x, y, z) + authPart()));
    conn.fetch();
}

void Session::updateVideo()
{
    if (acquiring())
        return;
    const auto x = typedNumber(xCoord->text());
    const auto y = typedNumber(yCoord->text());
    const auto z = typedNumber(zCoord->text());
    if (!x || !y || !z) {
        statusBar()->showMessage(QStringLiteral("Invalid coordinates."));
        return;
    }
    disableControls();
    statusBar()->showMessage(QStringLiteral("Moving scope..."));
    sendMove(QString::asprintf("f=m&x=%.0f&y=%.0f&z=%.0f", double(*x) * 10000.0, double(*y) * 10000.0,
                               double(*z) * 10.0));
}

void Session::queryCoords()
{
    sendMove(QStringLiteral("f=w"));
}

void Session::doCoarseAuto()
{
    if (acquiring())
        return;
    statusBar()->showMessage(QStringLiteral("Performing Autofocus..."));
    disableControls();
    sendMove(QStringLiteral("f=a"));
}

void Session::doSlowAccurate()
{
    if (acquiring())
        return;
    statusBar()->showMessage(QStringLiteral("This more accurate autofocus may take a while; please be patient."));
    disableControls();
    sendMove(QStringLiteral("f=r"));
}

void Session::newCoordsHere()
{
    handlePositionReply(moveConn.succeeded(), moveConn.data(), moveConn.length());
}

void Session::handlePositionReply(bool succeeded, const char* data, int length)
{
    if (!succeeded) {
        sysInfoBox->append(QStringLiteral(
            "***Error fetching coordinates from microscope.  The server may be malfunctioning.\n"));
        return;
    }
    const PositionReply reply = parsePosition(data, length);
    if (reply.kind == PositionReply::Invalid) {
        // The controls stay off until a frame arrives.
        sysInfoBox->append(QStringLiteral(
            "***Error fetching coordinates from microscope.  The server returned an invalid sequence.\n"));
        return;
    }
    if (reply.x)
        physical.x = *reply.x;
    if (reply.y)
        physical.y = *reply.y;
    if (reply.z)
        physical.z = *reply.z;
    pointToScreen(physical);
    emit physicalLocationChanged(physical);
    if (reply.kind == PositionReply::AtRest) {
        // The frame's arrival, not this reply, brings the controls back.
        videoJPEG.get();
        showCurrent();
        statusBar()->showMessage(QStringLiteral("Ready."));
    } else {
        queryCoords();
    }
}

void Session::videoFrameArrived()
{
    if (!acquiring())
        enableControls();
}

void Session::videoFrameFailed()
{
    sysInfoBox->append(QStringLiteral("***Error fetching a video frame from microscope.\n"));
    if (!expired && !acquiring())
        enableControls();
}

void Session::pointToScreen(CoordinateTriple t)
{
    showText(xCoord, QString::asprintf("%.4f", double(t.x) * 0.0001));
    showText(yCoord, QString::asprintf("%.4f", double(t.y) * 0.0001));
    showText(zCoord, QString::asprintf("%.0f", double(t.z) * 0.1));
}

void Session::changeDestination(CoordinateTriple& t)
{
    showText(xCoord, QString::asprintf("%.4f", double(t.x) * 0.0001));
    showText(yCoord, QString::asprintf("%.4f", double(t.y) * 0.0001));
    // The overview's destinations carry no height.
    if (t.z > 0.00001f)
        showText(zCoord, QString::asprintf("%.4f", double(t.z) * 0.1));
}

void Session::showCurrent()
{
    pointToScreen(physical);
    highRes->setLocation(physical);
    lowRes->setDestination(physical);
}

namespace {

// The eleven stage controls, in this order; no other widget is touched.
void setStageControls(Session& s, bool on)
{
    QWidget* const controls[] = {s.showCurrentPosition, s.focusStackButton, s.frameGrabButton, s.refreshButton,
                                 s.AFButton, s.slowFocusButton, s.zSlider, s.cancelButton,
                                 s.neighborButton, s.correctButton, s.refPreviewButton};
    for (QWidget* w : controls)
        w->setEnabled(on);
}

} // namespace

void Session::disableControls()
{
    setStageControls(*this, false);
}

void Session::enableControls()
{
    setStageControls(*this, true);
}

void Session::handleRefreshButton()
{
    if (videoWindow)
        videoWindow->show();
    videoJPEG.get();
}

void Session::refreshPreview()
{
    highRes->showSelection = false;
    if (curSlide.isEmpty()) {
        sysInfoBox->append(QStringLiteral("No slide to reload.\n"));
    } else {
        showSlide(curSlideWire);
    }
    updateVideo();
}
