// Focus stack: a chain of level move, inset image, next level move, around the stage height at
// the start, then one move back to the start; afterwards the slider puts a level's height into
// the z field.
#include "Session.h"

#include "StageReplies.h"
#include "VideoWindow.h"

#include <QStatusBar>

void Session::beginZAcquire()
{
    // A press while a chain or its return still runs would mix the running stack's levels
    // into the new one.
    if (stackBusy || stackReturning || !videoWindow)
        return;
    if (!insetFailure)
        insetFailure = connect(&insetJPEG, &MyWebJPEG::failed, this, [this] {
            dropStackLevel(QStringLiteral("***Error - Focus stack stopped: the image of a level could not be fetched."));
        });

    stackBusy = true;
    stackMoved = false;
    disableControls();
    statusBar()->showMessage(QStringLiteral("Acquiring focus stack..."));
    zRemaining = frameCountSelector->value();
    insetStack->clearImages();
    stackZ.clear();
    zSlider->setMaximum(zRemaining - 1);
    stackCentre = physical;
    // The corner is taken once: a focus box moved during the stack changes nothing.
    const QPoint corner = videoWindow->imageView->focusBoxOrigin();
    insetJPEG.setURL(videoJPEG.url() + QString::asprintf("&x=%i&y=%i&inset=1", corner.x(), corner.y()));
    QImage none;
    startNextZImage(none);
}

void Session::startNextZImage(QImage&)
{
    if (expired)
        return;                 // the chain stops; the controls stay off
    if (zRemaining <= 0) {
        finishStack();
        return;
    }
    // Read at every level: a change during the stack moves the remaining levels.
    const int range = frameRangeSelector->value();
    const int count = frameCountSelector->value();
    const double step = (range / count) * 10.0;
    const double z = (count / 2) * step + stackCentre.z - zRemaining * step;
    // The slider follows the level about to be taken, which is its index in stackZ and in the
    // stack view, whatever the spin boxes say now.
    zSlider->setValue(int(stackZ.size()));
    if (!(z > 0 && z < 30000)) {
        finishStack();
        return;
    }
    stackZ.append(z);
    sendBlockingMove(zMoveConn, double(stackCentre.x), double(stackCentre.y), z);
    stackMoved = true;
    --zRemaining;
}

void Session::zMoveComplete()
{
    if (stackReturning) {
        stackReturned();
        return;
    }
    // A level the stage did not reach would be browsed at a height its image does not show.
    if (!zMoveConn.succeeded() || moveRefused(zMoveConn.data(), zMoveConn.length())) {
        dropStackLevel(QStringLiteral("***Error - Focus stack stopped: the microscope did not move to the next level."));
        return;
    }
    insetJPEG.get();
}

void Session::focusSliderChanged(int value)
{
    if (stackBusy || value < 0 || value >= stackZ.size())
        return;
    physical.z = float(stackZ.at(value));
    pointToScreen(physical);
}

void Session::dropStackLevel(const QString& why, bool controlsBack)
{
    if (!stackBusy)
        return;
    if (!stackZ.isEmpty())
        stackZ.removeLast();
    sysInfoBox->append(why);
    finishStack(controlsBack);
}

void Session::finishStack(bool controlsBack)
{
    stackBusy = false;
    // Left at a level, the stage would be away from the height the fields and the frame show.
    // After the time is over nothing more goes out.
    if (stackMoved && !expired) {
        stackMoved = false;
        stackReturning = true;
        sendBlockingMove(zMoveConn, double(stackCentre.x), double(stackCentre.y), double(stackCentre.z));
        return;
    }
    if (controlsBack && !expired)
        enableControls();
    statusBar()->clearMessage();
}

void Session::stackReturned()
{
    stackReturning = false;
    statusBar()->clearMessage();
    if (expired)
        return;
    if (!zMoveConn.succeeded() || moveRefused(zMoveConn.data(), zMoveConn.length())) {
        // Where the stage is now is not known: the fields stay as they are.
        sysInfoBox->append(
            QStringLiteral("***Error - Focus stack: the microscope did not move back to where the stack began."));
    } else {
        physical = stackCentre;
        pointToScreen(physical);
        emit physicalLocationChanged(physical);
    }
    // A frame where the stage is (of a size chosen meanwhile), whose arrival brings the controls
    // back, as after any command.
    videoJPEG.get();
}
