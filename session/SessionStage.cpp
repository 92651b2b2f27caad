#include "Session.h"

void Session::updateVideo() {}
void Session::newCoordsHere() {}
void Session::pointToScreen(CoordinateTriple) {}
void Session::queryCoords() {}
void Session::changeDestination(CoordinateTriple&) {}
void Session::doCoarseAuto() {}
void Session::showCurrent() {}
void Session::disableControls() {}
void Session::enableControls() {}
void Session::doSlowAccurate() {}
void Session::handleRefreshButton() {}
void Session::refreshPreview() {}
