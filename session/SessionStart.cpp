// Session start: the window's caption and keys, its windows and connections, the first requests.
#include "Session.h"

#include "HostBytes.h"

#include "HighResPreview.h"
#include "HostText.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "StageReplies.h"
#include "Url.h"
#include "VideoStack.h"
#include "VideoWindow.h"

#include <QStatusBar>

QString Session::iservUrl(const QString& command) const
{
    return Url(si.host).raw(si.baseQuery).raw(command);
}

QString Session::authPart()
{
    return QStringLiteral("&auth=") + auth.requestString();
}

void Session::begin(SessionInfo& info)
{
    si = info;
    setWindowTitle(QStringLiteral("Brolt 2.4: Controlling ") + si.scope.name + QStringLiteral(" at <") + si.host
                   + QStringLiteral(">"));
    expired = false;
    corner1Set = false;
    corner2Set = false;
    filterState = 2;

    // The ticket is decoded with the key: key first.
    auth.setKey(si.password);
    auth.setToken(si.ticket);

    videoWindow = new VideoWindow(nullptr);
    videoWindow->show();
    neighborVideo = new NeighborVideo(nullptr);

    // Receivers of one signal run in the order connected: a frame is shown before the controls
    // come back, an inset is stacked and a tile placed before the next is asked for.
    connect(videoWindow, &VideoWindow::videoFormatChanged, this, &Session::changeVideoFormat);
    connect(&videoJPEG, &MyWebJPEG::newImageAvailable, videoWindow, &VideoWindow::updateImage);
    connect(&videoJPEG, &MyWebJPEG::newImageAvailable, this, &Session::videoFrameArrived);
    connect(&moveConn, qOverload<>(&MyHTTP::done), this, &Session::newCoordsHere);
    connect(this, &Session::physicalLocationChanged, lowRes, &LowResPreview::setPhysical);
    connect(this, &Session::physicalLocationChanged, videoWindow, &VideoWindow::setPhysical);
    connect(lowRes, &LowResPreview::destinationChanged, this, &Session::changeDestination);
    connect(lowRes, &LowResPreview::destinationChanged, highRes, &HighResPreview::setLocation);
    connect(highRes, &HighResPreview::locationChanged, lowRes, &LowResPreview::setDestination);
    connect(highRes, &HighResPreview::locationChanged, this, &Session::changeDestination);
    connect(&insetJPEG, &MyWebJPEG::newImageAvailable, insetStack, &VideoStack::addImage);
    connect(&neighborJPEG, &MyWebJPEG::newImageAvailable, neighborVideo, &NeighborVideo::updateImage);
    connect(&insetJPEG, &MyWebJPEG::newImageAvailable, this, &Session::startNextZImage);
    connect(&neighborJPEG, &MyWebJPEG::newImageAvailable, this, &Session::startNextNeighbor);
    connect(&zMoveConn, qOverload<>(&MyHTTP::done), this, &Session::zMoveComplete);
    connect(&neighMoveConn, qOverload<>(&MyHTTP::done), this, &Session::neighMoveComplete);
    connect(&sysInfoConn, qOverload<>(&MyHTTP::done), this, &Session::sysInfoArrived);
    connect(zSlider, &QSlider::valueChanged, insetStack, &VideoStack::displayImage);
    connect(&timeConn, qOverload<>(&MyHTTP::done), this, &Session::startTimer);
    connect(&createJobConn, qOverload<>(&MyHTTP::done), this, &Session::createJobResponse);
    connect(&cancelConn, qOverload<>(&MyHTTP::done), this, &Session::cancelSheduleResponse);
    connect(&jobListConn, qOverload<>(&MyHTTP::done), this, &Session::displayJobList);
    connect(&jobConn, qOverload<>(&MyHTTP::done), this, &Session::displayJob);
    connect(&calibConn, qOverload<>(&MyHTTP::done), this, &Session::calibrationResponse);
    // A frame that never comes would leave the controls off for good.
    connect(&videoJPEG, &MyWebJPEG::failed, this, &Session::videoFrameFailed);

    sysInfoConn.setUrl(iservUrl(QStringLiteral("f=d")));
    sysInfoConn.fetch();
    changeVideoFormat(1);
    timeConn.setUrl(iservUrl(QStringLiteral("f=t")));
    timeConn.fetch();

    lowRes->setServer(si.host);
    highRes->setServer(si.host);
    highRes->fiducialTag = si.scope.wireName;
    // A microscope without slides shows none and asks for none.
    if (!si.scope.wireSlides.isEmpty())
        showSlide(si.scope.wireSlides.first());

    queryCoords();
    statusBar()->showMessage(QStringLiteral("Ready."));

    const bool strain = si.login == QLatin1String("library");
    strainLabel->setVisible(strain);
    strainEdit->setVisible(strain);
}

void Session::sysInfoArrived()
{
    if (!sysInfoConn.succeeded())
        return;
    const SysInfoReply reply = parseSysInfo(sysInfoConn.data(), sysInfoConn.length());
    if (reply.mppX)
        mppX = *reply.mppX;
    if (reply.mppY)
        mppY = *reply.mppY;
    if (videoWindow)
        videoWindow->setMPP(mppX, mppY);
    sysInfoBox->append(QStringLiteral("\n-----------------------------------------------------------\n"
                                      "Beginning control session.\n"
                                      "-----------------------------------------------------------\n"));
    sysInfoBox->appendHostText(HostBytes::shown(reply.text));
}

void Session::changeVideoFormat(int code)
{
    // The frame asked for here gives the controls back, also after a command the host stalls on;
    // a stack stopped here returns to its centre first, and its frame is taken there.
    stopAcquisition();
    const QString url = iservUrl(QString::asprintf("f=p&ps=%i", code));
    // A frame of another size on its way is given up: the chosen size is fetched now.
    if (url != videoJPEG.url())
        videoJPEG.request()->abandon();
    videoJPEG.setURL(url);
    // A stage on its way back from a stack takes its frame once there.
    if (!stackReturning)
        videoJPEG.get();
}

void Session::stopAcquisition()
{
    // A scan's tiles and a stack's focus box are in the pixels of the old size. A stopped stack
    // sends the stage back to its centre.
    if (neighborBusy) {
        neighMoveConn.abandon();
        neighborJPEG.request()->abandon();
        endNeighborScan(QStringLiteral("***Neighbor scan stopped: the video size was changed.\n"), false);
    }
    if (stackReturning) {
        // A return the host stalls on would keep the controls off for good: it is given up, and
        // where the stage is, the frame asked for now shows.
        zMoveConn.abandon();
        stackReturning = false;
        statusBar()->clearMessage();
        sysInfoBox->append(QStringLiteral(
            "***Error - Focus stack: the move back to where the stack began was given up: the video size was changed."));
    } else if (stackBusy) {
        const bool levelUnderWay = zMoveConn.isBusy() || insetJPEG.request()->isBusy();
        zMoveConn.abandon();
        insetJPEG.request()->abandon();
        const QString line = QStringLiteral("***Error - Focus stack stopped: the video size was changed.");
        if (levelUnderWay) {
            dropStackLevel(line, false);
        } else {
            sysInfoBox->append(line);
            finishStack(false);
        }
    }
}
