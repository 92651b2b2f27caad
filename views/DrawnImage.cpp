#include "DrawnImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

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

QList<QImage> DrawnImage::atOtherRatios(const QImage& picture, const QSize& size, qreal ratio)
{
    QList<QImage> others;
    if (picture.isNull() || size.isEmpty())
        return others;
    QList<qreal> done{ratio};
    for (const QScreen* s : QGuiApplication::screens()) {
        const qreal r = s->devicePixelRatio();
        if (!done.contains(r)) {
            done.append(r);
            others.append(atSize(picture, size, r));
        }
    }
    return others;
}

void DrawnImage::draw(QPainter& p, const QRect& target, const QImage& kept, const QList<QImage>& others)
{
    const qreal ratio = p.device()->devicePixelRatioF();
    const QImage* shown = &kept;
    for (const QImage& o : others) {
        if (shown->devicePixelRatio() == ratio)
            break;
        if (o.devicePixelRatio() == ratio || o.devicePixelRatio() > shown->devicePixelRatio())
            shown = &o;
    }
    if (shown->deviceIndependentSize() == QSizeF(target.size()))
        p.drawImage(target.topLeft(), *shown);
    else
        p.drawImage(target, *shown);
}
