#include "Session.h"

void Session::beginZAcquire() {}
void Session::zMoveComplete() {}
void Session::startNextZImage(QImage&) {}
void Session::focusSliderChanged(int) {}
