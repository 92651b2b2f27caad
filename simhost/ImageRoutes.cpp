#include "SimHost.h"

void addImageRoutes(SimHost&)
{
}
