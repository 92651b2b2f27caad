#include "Session.h"

void Session::begin(SessionInfo&) {}
void Session::sysInfoArrived() {}
void Session::changeVideoFormat(int) {}
