#pragma once

#include <QImage>
#include <QWidget>

class QPaintEvent;

// One tile of the neighbour mosaic: the frame contrast-expanded and scaled to the tile, with
// the tile's number written on it ("Original Image" as well on the centre tile, number 18).
class NeighborView : public QWidget
{
    Q_OBJECT
public:
    explicit NeighborView(QWidget* parent = nullptr, const char* name = nullptr,
                          Qt::WindowFlags f = {});

    void redraw();

    int index = 0;              // the tile's number, written by the neighbour window
    QImage display;             // the last frame contrast-expanded, kept at the tile's size
    QList<QImage> displayElsewhere;     // the same for the screens of other pixel ratios
    int rangeR = 1;
    int rangeB = 1;
    int rangeG = 1;
    int minR = 0;
    int maxR = 0;
    int minG = 0;
    int maxG = 0;
    int minB = 0;
    int maxB = 0;

public slots:
    void setImage(QImage& frame);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    // The expansion, in place, on a picture drawn from the frame (32-bit RGB).
    void filterOnScreen(QImage& image) const;
};
