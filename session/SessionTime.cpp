#include "Session.h"

void Session::startTimer() {}
void Session::tickme() {}
void Session::cancelShedule() {}
void Session::cancelSheduleResponse() {}
