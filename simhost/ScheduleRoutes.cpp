#include "SimHost.h"

void addScheduleRoutes(SimHost&)
{
}
