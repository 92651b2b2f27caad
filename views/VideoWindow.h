#pragma once

#include "CoordinateTriple.h"
#include "ui_VideoWindow.h"

#include <QWidget>

// The live video window: the frame view with its image-adjustment controls, the video size,
// "Save Image" and the stage coordinates (mm) of the point under the focus box.
class VideoWindow : public QWidget, public Ui::VideoWindow
{
    Q_OBJECT
public:
    explicit VideoWindow(QWidget* parent = nullptr, const char* name = nullptr, Qt::WindowFlags fl = {});
    ~VideoWindow() override;

    float offsetX = 0;              // focus-box offset from the frame centre, µm
    float offsetY = 0;
    CoordinateTriple physical;      // last reported stage position, 0.1 µm

signals:
    void videoFormatChanged(int code);

public slots:
    virtual void filterChanged(int index);
    virtual void updateImage(QImage& frame);
    virtual void showFARStateChanged(int state);
    virtual void brightnessChanged(int value);
    virtual void contrastChanged(int state);
    virtual void toggleBrightness(int state);
    virtual void channelChanged(int index);
    virtual void useInvert(int state);
    virtual void vidSizeChanged(int index);
    virtual void setMPP(float x, float y);
    virtual void updateOffset(float x, float y);
    virtual void setPhysical(CoordinateTriple& t);
    virtual void disableResSwitching();
    virtual void coordsToScreen();
    virtual void handleSaveButton();

protected slots:
    virtual void languageChange();

private:
    void init();
};
