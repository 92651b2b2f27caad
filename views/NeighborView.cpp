#include "NeighborView.h"
#include "ColourBands.h"
#include "DrawnImage.h"

#include <QDebug>
#include <QPainter>

#include <algorithm>
#include <cstring>

NeighborView::NeighborView(QWidget* parent, const char* name, Qt::WindowFlags f) : QWidget(parent, f)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void NeighborView::setImage(QImage& frame)
{
    // Pixel work is done on 32-bit RGB: a grey-scale JPEG decodes to an 8-bit grey image,
    // which is expanded here like a colour frame whose three components are equal. The
    // expansion runs on the frame at the size received; only the tile-sized picture of it is
    // kept, so that a tile holds no more than it shows whatever size the frame has.
    // A 32-bit frame is expanded where it is and its expanded part put back as received once
    // the tile is drawn, so that a frame larger than the tile is never copied whole.
    const bool inPlace = frame.format() == QImage::Format_RGB32;
    QImage converted = inPlace ? QImage() : frame.convertToFormat(QImage::Format_RGB32);
    QImage& expanded = inPlace ? frame : converted;
    ColourBands::of(expanded).storeIn(*this);
    display = QImage();
    displayElsewhere.clear();
    const QImage received = inPlace ? frame.copy(QRect(0, 0, statsWidth, statsHeight) & frame.rect()) : QImage();
    filterOnScreen(expanded);
    display = DrawnImage::atSize(expanded, size(), devicePixelRatioF());
    displayElsewhere = DrawnImage::atOtherRatios(expanded, size(), devicePixelRatioF());
    for (int y = 0; y < received.height(); ++y)
        std::memcpy(frame.scanLine(y), received.constScanLine(y), size_t(received.width()) * sizeof(QRgb));
    redraw();
}

void NeighborView::filterOnScreen(QImage& image) const
{
    if (image.width() < 160) {
        qDebug("Image too small for processing.");
        return;
    }
    const int w = std::min(statsWidth, image.width());
    const int h = std::min(statsHeight, image.height());
    const ColourBands bands = ColourBands::in(*this);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
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
