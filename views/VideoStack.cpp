#include "VideoStack.h"
#include "DrawnImage.h"

#include <QPainter>

VideoStack::VideoStack(QWidget* parent, const char* name, Qt::WindowFlags f) : QWidget(parent, f)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void VideoStack::addImage(QImage& frame)
{
    // A null frame is kept too, so that frame i stays the i-th level of the stack. A frame is
    // kept at the view's size: a stack of 120 levels holds 120 view-sized pictures whatever
    // size the host sends.
    images.append(DrawnImage::atSize(frame, size(), devicePixelRatioF()));
    elsewhere.append(DrawnImage::atOtherRatios(frame, size(), devicePixelRatioF()));
    displayImage(int(images.size()) - 1);
}

void VideoStack::displayImage(int i)
{
    if (i < 0 || i >= images.size())
        return;
    current = i;
    redraw();
}

void VideoStack::clearImages()
{
    images.clear();
    elsewhere.clear();
    current = -1;
}

void VideoStack::redraw()
{
    repaint();
}

void VideoStack::paintEvent(QPaintEvent*)
{
    if (current < 0 || current >= images.size())
        return;
    QPainter p(this);
    DrawnImage::draw(p, rect(), images.at(current), elsewhere.value(current));
}
