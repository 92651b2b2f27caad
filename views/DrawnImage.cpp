#include "DrawnImage.h"

#include <QPainter>

QImage DrawnImage::atSize(const QImage& picture, const QSize& size, qreal ratio)
{
    if (picture.isNull() || size.isEmpty() || (picture.size() == size && ratio == 1))
        return picture;
    QImage kept((QSizeF(size) * ratio).toSize(),
                picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    kept.setDevicePixelRatio(ratio);
    kept.fill(Qt::transparent);
    QPainter p(&kept);
    p.drawImage(QRect(QPoint(0, 0), size), picture);
    return kept;
}

void DrawnImage::draw(QPainter& p, const QRect& target, const QImage& kept)
{
    if (kept.deviceIndependentSize() == QSizeF(target.size()))
        p.drawImage(target.topLeft(), kept);
    else
        p.drawImage(target, kept);
}
