#pragma once

#include <QString>

// The neighbour mosaic's grid and the calibration reply.

// One camera field of a microscope, by its exact name, in stage units (0.1 µm); 0 x 0 for a
// microscope the table does not know.
struct CameraField
{
    float width = 0;
    float height = 0;
};
CameraField cameraField(const QString& scopeName);

// Step i of the 5 x 7 grid around (cx, cy): steps 35 ... 1 run from the top-left field to the
// bottom-right one in reading order, step 0 is the centre itself.
struct GridPoint
{
    float x = 0;
    float y = 0;
};
GridPoint neighborStep(int i, float cx, float cy, CameraField field);

// Answer to a calibration correction ("f=ca").
enum class CalibrationReply {
    Corrected,      // "+"
    Unavailable,    // "-F": the service cannot correct now
    NoFiducials,    // "-N": the slide has no fiducial file
    Other,
};
CalibrationReply parseCalibrationReply(const char* data, int length);
