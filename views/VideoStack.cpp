#include "VideoStack.h"

#include <QPainter>

VideoStack::VideoStack(QWidget* parent, const char* name, Qt::WindowFlags f) : QWidget(parent, f)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void VideoStack::addImage(QImage& frame)
{
    // A null frame is kept too, so that frame i stays the i-th level of the stack.
    images.append(frame);
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
    p.drawImage(rect(), images.at(current));
}
