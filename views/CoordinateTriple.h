#pragma once

#include <QMetaType>

// A stage position in units of 0.1 µm (10000 per mm, 10 per µm).
struct CoordinateTriple
{
    float x = 0;
    float y = 0;
    float z = 0;

    CoordinateTriple() = default;
    CoordinateTriple(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
};

Q_DECLARE_METATYPE(CoordinateTriple)
