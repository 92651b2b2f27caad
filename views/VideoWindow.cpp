#include "VideoWindow.h"

#include "FieldText.h"
#include "PanelCacheStyle.h"

VideoWindow::VideoWindow(QWidget* parent, const char* name, Qt::WindowFlags fl) : QWidget(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setupUi(this);
    // The stage coordinates are rewritten on every position reply.
    auto* fieldStyle = new PanelCacheStyle(this);
    for (QLineEdit* field : {xCoord, yCoord})
        field->setStyle(fieldStyle);
    languageChange();
    resize(QSize(660, 633).expandedTo(minimumSizeHint()));

    connect(showFAR, &QCheckBox::stateChanged, this, &VideoWindow::showFARStateChanged);
    connect(contrastCheck, &QCheckBox::stateChanged, this, &VideoWindow::contrastChanged);
    connect(brightnessSlider_2, &QSlider::valueChanged, this, &VideoWindow::brightnessChanged);
    connect(filterChoices, qOverload<int>(&QComboBox::activated), this, &VideoWindow::filterChanged);
    connect(CheckBox3_2, &QCheckBox::stateChanged, this, &VideoWindow::toggleBrightness);
    connect(ComboBox2, qOverload<int>(&QComboBox::activated), this, &VideoWindow::channelChanged);
    connect(CheckBox4, &QCheckBox::stateChanged, this, &VideoWindow::useInvert);
    connect(videoResComboBox, qOverload<int>(&QComboBox::activated), this, &VideoWindow::vidSizeChanged);
    connect(PushButton14, &QPushButton::clicked, this, &VideoWindow::handleSaveButton);

    init();
}

VideoWindow::~VideoWindow() = default;

void VideoWindow::init()
{
    connect(imageView, &VideoView::offsetChanged, this, &VideoWindow::updateOffset);
}

void VideoWindow::languageChange()
{
    retranslateUi(this);
    ComboBox2->clear();
    ComboBox2->addItems({tr("Normal"), tr("Red"), tr("Green"), tr("Blue")});
    filterChoices->clear();
    filterChoices->addItems({tr("None"), tr("Red Filter"), tr("Green Filter"), tr("Blue Filter")});
    videoResComboBox->clear();
    videoResComboBox->addItems({tr("640x480"), tr("800x600"), tr("1024x768"), tr("1280x960")});
}

void VideoWindow::filterChanged(int index)
{
    imageView->changeFilter(index);
}

void VideoWindow::updateImage(QImage& frame)
{
    imageView->setImage(frame);
}

void VideoWindow::showFARStateChanged(int state)
{
    imageView->setFocusOverlay(state == 2);
}

void VideoWindow::brightnessChanged(int value)
{
    imageView->setGain(value);
}

void VideoWindow::contrastChanged(int state)
{
    imageView->setContrastExpansion(state);
}

void VideoWindow::toggleBrightness(int state)
{
    imageView->setGainEnabled(state);
}

void VideoWindow::channelChanged(int index)
{
    imageView->setChannel(index);
}

void VideoWindow::useInvert(int state)
{
    imageView->setInvert(state);
}

void VideoWindow::vidSizeChanged(int index)
{
    imageView->setVideoSize(index + 1);
    emit videoFormatChanged(index + 1);
}

void VideoWindow::setMPP(float x, float y)
{
    imageView->setMPP(x, y);
}

void VideoWindow::updateOffset(float x, float y)
{
    offsetX = x;
    offsetY = y;
    coordsToScreen();
}

void VideoWindow::setPhysical(CoordinateTriple& t)
{
    physical = t;
    coordsToScreen();
}

void VideoWindow::disableResSwitching()
{
    videoResComboBox->setEnabled(false);
}

void VideoWindow::coordsToScreen()
{
    // µm to mm plus 0.1 µm to mm: the stage position of the focus box's centre.
    showText(xCoord, QString::asprintf("%.4f", double(offsetX) * 0.001 + double(physical.x) * 0.0001));
    showText(yCoord, QString::asprintf("%.4f", double(offsetY) * 0.001 + double(physical.y) * 0.0001));
}

void VideoWindow::handleSaveButton()
{
    imageView->saveImage();
}
