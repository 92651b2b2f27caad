#include "NeighborView.h"
#include "ColourBands.h"
#include "DrawnImage.h"

#include <QDebug>
#include <QPainter>

NeighborView::NeighborView(QWidget* parent, const char* name, Qt::WindowFlags f) : QWidget(parent, f)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void NeighborView::setImage(QImage& frame)
{
    // Pixel work is done on 32-bit RGB: a grey-scale JPEG decodes to an 8-bit grey image,
    // which is expanded here like a colour frame whose three components are equal. The bands
    // are counted over the whole frame at the size received, and the whole frame is expanded;
    // only the tile-sized picture of it is kept, so that a tile holds no more than it shows
    // whatever size the frame has.
    // The expansion changes each pixel by itself, and the kept pictures are drawn without
    // smoothing, each of their pixels one of the frame's: expanding the kept pictures gives
    // the pixels of the frame expanded and then drawn, while the frame is neither written nor
    // copied.
    const QImage rgb = frame.format() == QImage::Format_RGB32 ? frame : frame.convertToFormat(QImage::Format_RGB32);
    ColourBands::of(rgb).storeIn(*this);
    display = QImage();
    displayElsewhere.clear();
    display = DrawnImage::atSize(rgb, size(), devicePixelRatioF());
    displayElsewhere = DrawnImage::atOtherRatios(rgb, size(), devicePixelRatioF());
    if (rgb.width() < 160) {
        qDebug("Image too small for processing.");
    } else {
        filterOnScreen(display);
        for (QImage& other : displayElsewhere)
            filterOnScreen(other);
    }
    redraw();
}

void NeighborView::filterOnScreen(QImage& image) const
{
    const ColourBands bands = ColourBands::in(*this);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = line[x];
            line[x] = qRgb(bands.expand(0, qRed(c)), bands.expand(1, qGreen(c)), bands.expand(2, qBlue(c)));
        }
    }
}

void NeighborView::redraw()
{
    repaint();
}

void NeighborView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    DrawnImage::draw(p, rect(), display, displayElsewhere);
    p.setPen(Qt::red);
    p.drawText(80, 60, QString::number(index));
    if (index == 18)
        p.drawText(40, 100, QStringLiteral("Original Image"));
}
