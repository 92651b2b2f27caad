#include "Session.h"

void Session::handleNeighborButton() {}
void Session::startNextNeighbor(QImage&) {}
void Session::neighMoveComplete() {}
void Session::handleCorrectButton() {}
void Session::calibrationResponse() {}
