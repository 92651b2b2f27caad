#pragma once

#include "CoordinateTriple.h"
#include "Generation.h"
#include "MyWebJPEG.h"

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

// The slide overview: a small JPEG of the whole slide scaled to the widget, the stage position
// as a red rectangle and the chosen destination as a green circle. A press or a drag sets the
// destination and reports it.
class LowResPreview : public QWidget
{
    Q_OBJECT
public:
    explicit LowResPreview(QWidget* parent = nullptr, const char* name = nullptr);

    void setServer(QString host);

    QPoint physicalToPixel(const CoordinateTriple& t) const;
    CoordinateTriple pixelToPhysical(const QPoint& p) const;
    void redraw();

    // The overview stretches over this much stage, in mm, with stage (0, 0) at its top-left.
    static constexpr double SlideWidthMm = 75.67;
    static constexpr double SlideHeightMm = 50.325;

    MyWebJPEG jpeg;
    QImage image;
    CoordinateTriple physical;
    CoordinateTriple destination;
    QString server;

    // A slide named by the host: exactly these bytes go into the request.
    void slideChange(const QByteArray& wireSlide);

public slots:
    // A slide named as text: its UTF-8 form goes into the request.
    void slideChange(QString& slide);
    void setPhysical(CoordinateTriple& t);
    void setDestination(CoordinateTriple& t);

protected slots:
    void loadImage(QImage& img);

signals:
    void destinationChanged(CoordinateTriple& t);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private slots:
    void overviewRequestDone();
    void overviewDecoding();

private:
    void requestOverview();
    // The pixels the stage marker covers at the current position.
    QRect stageMarker() const;

    QString host;
    QByteArray slideWireName;
    // `image` smooth-scaled to the widget: made once per picture and size, since the stage
    // markers repaint the overview on every position reply. It alone is shown while a large
    // overview, let go of, is followed by the next.
    QPixmap scaled;
    qint64 scaledKey = 0;
    // An overview of an earlier slide still on its way is not shown; the current slide's
    // overview is asked for once it is in.
    Generation overview;
};
