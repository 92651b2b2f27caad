#pragma once

#include "VideoPasses.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

// Shows the camera frames: keeps each frame as received, measures its colour bands and shows a
// processed copy (contrast expansion, colour channel, gain, colour filter, inversion), with a
// 168 x 140 focus box placed by the mouse. Saves the shown frame as a JPEG.
class VideoView : public QWidget
{
    Q_OBJECT
public:
    explicit VideoView(QWidget* parent = nullptr, const char* name = nullptr);

    void setMPP(float x, float y);
    void setVideoSize(int code);
    void setFocusOverlay(bool on);
    void setGainEnabled(int state);
    void setChannel(int value);
    void setInvert(int state);
    void setGain(int value);
    void setContrastExpansion(int state);
    QPoint focusBoxOrigin() const;
    void redraw();

    // The focus box, in widget pixels.
    static constexpr int FocusWidth = 168;
    static constexpr int FocusHeight = 140;

    // The last frame as 32-bit RGB, never modified; of a frame larger than the processing region
    // (videoWidth x videoHeight) only that region, since the rest of it is never processed and
    // display holds it as received.
    QImage sourceImage;
    QImage display;                 // the processed copy that is drawn and saved
    int filter = 0;
    int contrastExpansion = 2;
    QPoint focusCentre{100, 100};
    bool focusOverlay = true;
    float gain = 100.0f;
    bool haveImage = false;
    int rangeR = 1, rangeB = 1, rangeG = 1;
    int minR = 0, maxR = 0, minG = 0, maxG = 0, minB = 0, maxB = 0;
    bool gainEnabled = false;
    int channel = 0;
    bool invert = false;
    int videoWidth = 640, videoHeight = 480;
    float mppX = 0, mppY = 0;       // µm per pixel of the 640 x 480 frame; 0 until the host's
                                    // scale is known: offsets read 0

    // The current settings as the passes take them.
    VideoPassSettings passSettings() const;

public slots:
    void setImage(QImage& frame);
    void changeFilter(int value);
    void filterOnScreen();
    void saveImage();

signals:
    void offsetChanged(float x, float y);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void reprocess();
    void processFromSource();

    bool sourceIsRegion = false;    // sourceImage is the top-left part of a larger frame
};
