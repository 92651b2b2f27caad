#include "SimHost.h"

void addPointListRoutes(SimHost&)
{
}
