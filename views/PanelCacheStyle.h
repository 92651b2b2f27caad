#pragma once

#include <QHash>
#include <QPixmap>
#include <QProxyStyle>
#include <QSize>

// The application's style, except that the panel of a line edit is drawn once per size, state
// and palette and then copied. For fields repainted many times a second (the stage
// coordinates, on every position reply), where drawing the antialiased frame each time costs
// more than the rest of the field.
class PanelCacheStyle : public QProxyStyle
{
    Q_OBJECT
public:
    explicit PanelCacheStyle(QObject* owner);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

    // What a panel's picture depends on.
    struct Key
    {
        QSize size;
        uint state;
        qint64 palette;
        int lineWidth;
        int midLineWidth;
        uint features;
        int dpr;                // device pixel ratio x 100
        bool operator==(const Key& o) const
        {
            return size == o.size && state == o.state && palette == o.palette && lineWidth == o.lineWidth
                   && midLineWidth == o.midLineWidth && features == o.features && dpr == o.dpr;
        }
    };

private:
    mutable QHash<Key, QPixmap> panels;
};

size_t qHash(const PanelCacheStyle::Key& k, size_t seed = 0);
