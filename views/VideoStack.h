#pragma once

#include <QImage>
#include <QVector>
#include <QWidget>

class QPaintEvent;

// The frames of one focus stack, in arrival order; shows one of them, scaled to the widget.
class VideoStack : public QWidget
{
    Q_OBJECT
public:
    explicit VideoStack(QWidget* parent = nullptr, const char* name = nullptr,
                        Qt::WindowFlags f = {});

    void clearImages();
    void redraw();

    QVector<QImage> images;     // each frame as drawn at the view's size
    QVector<QList<QImage>> elsewhere;   // images[i] for the screens of other pixel ratios
    int current = -1;           // the frame shown; -1 = none

public slots:
    void addImage(QImage& frame);
    void displayImage(int i);

protected:
    void paintEvent(QPaintEvent* e) override;
};
