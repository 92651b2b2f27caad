#pragma once

// A begun control window with its boxes recorded, for the control-time and focus-stack tests
// (header-only: test executables link the control window's library themselves).
#include "BoxCloser.h"
#include "SessionFixture.h"

struct ControlSession : SessionFixture
{
    BoxCloser boxes;
    Session* s = nullptr;

    // openAndSettle(), keeping the window at hand.
    bool start()
    {
        s = open();
        return s && settle();
    }

    // The start's requests and those of the stack and the cancellation have all been answered,
    // and so has the frame a stack's return asks for.
    bool settle(int timeoutMs = 10000)
    {
        return waitSettled([this] {
            return idle() && !s->zMoveConn.isBusy() && !s->insetJPEG.request()->isBusy() && !s->cancelConn.isBusy()
                   && !s->timeConn.isBusy();
        }, 20, timeoutMs);
    }

    // The eleven stage controls of the command cycle.
    QList<QWidget*> controls() const
    {
        return {s->showCurrentPosition, s->focusStackButton, s->frameGrabButton, s->refreshButton,
                s->AFButton, s->slowFocusButton, s->zSlider, s->cancelButton, s->neighborButton,
                s->correctButton, s->refPreviewButton};
    }
    bool controlsEnabled(bool on) const
    {
        for (QWidget* w : controls())
            if (w->isEnabled() != on)
                return false;
        return true;
    }
};
