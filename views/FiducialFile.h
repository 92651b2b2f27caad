#pragma once

#include <QPoint>
#include <optional>

// A slide's fiducial file: the image pixels of its four corner marks and the slide's size in
// mm, and the calibration they give, over the received bytes only.
struct FiducialFile
{
    QPoint topLeft;
    QPoint topRight;
    QPoint bottomLeft;
    QPoint bottomRight;
    float widthMm = 75.67f;
    float heightMm = 50.325f;

    // The calibration: image pixels across and down the slide, and its rotation in radians.
    double pixelWidth = 0;
    double pixelHeight = 0;
    double angle = 0;

    // Eight marks (decimal integers: TL, TR, BL, BR as x y) and optionally the two sizes in mm,
    // separated by any white space. Without both sizes the nominal ones apply. Nothing for a
    // file with fewer marks, or whose calibration would not be a finite positive scale.
    static std::optional<FiducialFile> read(const char* data, int length);
};
