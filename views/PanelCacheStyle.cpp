#include "PanelCacheStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QHashFunctions>
#include <QStyleFactory>
#include <QStyleOptionFrame>

PanelCacheStyle::PanelCacheStyle(QObject* owner)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
    setParent(owner);
}

void PanelCacheStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                    const QWidget* widget) const
{
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    if (element != PE_PanelLineEdit || !frame || frame->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const qreal dpr = painter->device()->devicePixelRatio();
    const Key key{frame->rect.size(), uint(frame->state), frame->palette.cacheKey(), frame->lineWidth,
                  frame->midLineWidth, uint(frame->features), qRound(dpr * 100)};
    auto found = panels.constFind(key);
    if (found == panels.constEnd()) {
        QPixmap panel((QSizeF(frame->rect.size()) * dpr).toSize());
        panel.setDevicePixelRatio(dpr);
        panel.fill(Qt::transparent);
        QStyleOptionFrame at(*frame);
        at.rect.moveTo(0, 0);
        QPainter p(&panel);
        QProxyStyle::drawPrimitive(element, &at, &p, widget);
        p.end();
        if (panels.size() >= 64)            // palettes and states come and go
            panels.clear();
        found = panels.insert(key, panel);
    }
    const QPixmap& panel = *found;
    painter->drawPixmap(frame->rect.topLeft(), panel);
}

size_t qHash(const PanelCacheStyle::Key& k, size_t seed)
{
    return qHashMulti(seed, k.size.width(), k.size.height(), k.state, k.palette, k.lineWidth, k.midLineWidth,
                      k.features, k.dpr);
}
