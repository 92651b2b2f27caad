#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <vector>

// Slide geometry shared by every picture of a slide. Stage and slide positions are in 0.1 um
// units with (0, 0) at the slide's top-left; the slide spans 75.67 mm x 50.325 mm.
namespace SlideGeometry {
constexpr double kWidthUnits = 756700.0;
constexpr double kHeightUnits = 503250.0;
constexpr double kWidthMm = 75.67;
constexpr double kHeightMm = 50.325;
constexpr double kCentreX = kWidthUnits / 2;     // 378350
constexpr double kCentreY = kHeightUnits / 2;    // 251625
constexpr int kWholeWidth = 3060;
constexpr int kWholeHeight = 2036;
constexpr int kOverviewWidth = 757;              // 75.67 : 50.325 at 0.1 mm per pixel
constexpr int kOverviewHeight = 503;
constexpr int kInsetWidth = 168;
constexpr int kInsetHeight = 140;

// Video frame size for a size code: 1 = 640 x 480 ... 4 = 1280 x 960; anything else is 1.
QSize videoSize(int code);
}

// The four fiducial marks of a whole-slide picture (its pixels) and the distances in mm
// between them, with the calibration a client computes from them.
struct Fiducials
{
    QPoint tl, tr, bl, br;
    double widthMm = SlideGeometry::kWidthMm;
    double heightMm = SlideGeometry::kHeightMm;

    // The file: ten values, one a line, integers not zero-padded.
    QByteArray text() const;
    Fiducials shifted(QPoint d) const;

    // Stage (0.1 um) to whole-slide pixel and back, unclamped: the rotation, scale and origin
    // taken from the marks the way the client derives them.
    QPointF stageToPixel(QPointF stage) const;
    QPointF pixelToStage(QPointF pixel) const;
    // The whole-slide pixel a client's view reads for a stage point: scaled in 32-bit floats,
    // rotated, truncated towards zero.
    QPoint imagePixel(QPointF stage) const;

private:
    struct Calibration { double pixelWidth, pixelHeight, angle, originX, originY; };
    Calibration calibration() const;
};

// What one picture shows: the slide point (0.1 um) at the centre of its pixel (0, 0) and the
// steps per pixel along its rows and columns.
struct SlideView
{
    QPointF origin;
    QPointF du;
    QPointF dv;
};

// One slide's synthetic specimen, derived from its name alone: a few tissue sections (irregular
// blobs with lumens, stromal and cellular zones, cells with nuclei) on near-white glass, and a
// smooth focus surface. Every picture samples the same specimen, so the overview, the
// whole-slide picture and the video fields agree; fine detail fades as pixels grow.
// Glass is always brighter than R+G+B = 675 and tissue of full density darker.
class SlideWorld
{
public:
    explicit SlideWorld(const QString& name);

    const QString& name() const { return m_name; }
    quint32 seed() const { return m_seed; }

    // The base fiducial marks: the pixels of stage (0, 0), (width, 0), (0, height) and
    // (width, height) in the whole-slide picture, a little different for every slide.
    const Fiducials& fiducials() const { return m_fiducials; }

    // Tissue density 0..1 at a slide point (0.1 um units), without cell detail.
    double tissueAt(double x, double y) const;
    // The focus height (0.1 um) of the section surface at a slide point: 15000 +- 1500.
    double focusAt(double x, double y) const;

    // The overview: the whole slide area, 757 x 503.
    QImage overview() const;
    // The whole-slide picture, 3060 x 2036, laid out by the base fiducials, with the marks.
    QImage wholeSlide() const;

    // A camera frame of `frameSize` pixels showing the field of `fieldW` x `fieldH` units
    // centred on slide point (x, y), blurred by a Gaussian of `blurUm` micrometres; only the
    // pixels of `crop` (frame coordinates, inside the frame) are rendered and returned.
    QImage frame(QPointF centre, double fieldW, double fieldH, QSize frameSize, QRect crop,
                 double blurUm) const;

    // Renders any view of the specimen into an RGB888 image.
    void render(QImage& out, const SlideView& view) const;

private:
    struct Section
    {
        double cx, cy;          // um
        double a, b;            // semi-axes, um
        double cosT, sinT;
        double minX, maxX, minY, maxY;      // bounding box with room for the ragged edge, um
        quint32 seed;
    };
    struct Macro
    {
        float density;          // 0..1
        float mix;              // 0 stroma .. 1 cellular
        float glass;            // -1..1 tone of the bare glass
    };
    Macro macroAt(double xu, double yu) const;      // um
    void renderTile(uchar* rows, qsizetype bpl, int x0, int y0, int w, int h, const SlideView& v,
                    double pixelUm) const;

    QString m_name;
    quint32 m_seed;
    Fiducials m_fiducials;
    std::vector<Section> m_sections;
    double m_focusPhase[3];
};
