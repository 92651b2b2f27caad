#include "Session.h"

void Session::setC1() {}
void Session::setC2() {}
void Session::calcNumMovies() {}
void Session::handleJobReset() {}
void Session::filterControl(int) {}
void Session::handleCreateJob() {}
void Session::createJobResponse() {}
