#include "Session.h"

void Session::handleDisplayLib() {}
void Session::handleDisplayJob() {}
void Session::handleJobListBox(QListWidgetItem*) {}
void Session::displayJobList() {}
void Session::displayJob() {}
void Session::handleSlideButton() {}
