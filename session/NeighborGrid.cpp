#include "NeighborGrid.h"

#include <cstring>

CameraField cameraField(const QString& scopeName)
{
    if (scopeName == QLatin1String("tall") || scopeName == QLatin1String("handsome"))
        return {1254.912f, 941.184f};
    if (scopeName == QLatin1String("dark"))
        return {5120.0f, 3840.0f};
    return {};
}

GridPoint neighborStep(int i, float cx, float cy, CameraField field)
{
    if (i == 0)
        return {cx, cy};
    const int column = (35 - i) % 5;
    const int row = (35 - i) / 5;
    return {cx + float(column - 2) * field.width, cy + float(row - 3) * field.height};
}

CalibrationReply parseCalibrationReply(const char* data, int length)
{
    if (!data || length <= 0)
        return CalibrationReply::Other;
    const void* nul = std::memchr(data, '\0', size_t(length));
    const int n = nul ? int(static_cast<const char*>(nul) - data) : length;
    if (n >= 1 && data[0] == '+')
        return CalibrationReply::Corrected;
    if (n >= 2 && data[0] == '-' && data[1] == 'F')
        return CalibrationReply::Unavailable;
    if (n >= 2 && data[0] == '-' && data[1] == 'N')
        return CalibrationReply::NoFiducials;
    return CalibrationReply::Other;
}
