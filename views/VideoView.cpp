#include "VideoView.h"

#include "Alerts.h"
#include "Outline.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSaveFile>

#include <cstring>

namespace {

// Frames narrower than this are shown as received.
constexpr int MinProcessedWidth = 640;

// Icons and types from the name alone. The stock provider reads a file to find its type,
// which can block for good on files such as /proc/kmsg.
class NameOnlyIconProvider : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override
    {
        if (info.isRoot())
            return icon(Drive);
        return icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override
    {
        if (info.isRoot())
            return QStringLiteral("Drive");
        if (info.isDir())
            return QStringLiteral("Folder");
        const QList<QMimeType> byName = mimeTypes.mimeTypesForFileName(info.fileName());
        if (byName.isEmpty() || byName.first().comment().isEmpty())
            return QStringLiteral("File");
        return byName.first().comment();
    }

private:
    QMimeDatabase mimeTypes;
};

} // namespace

VideoView::VideoView(QWidget* parent, const char* name) : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

VideoPassSettings VideoView::passSettings() const
{
    VideoPassSettings s;
    s.filter = filter;
    s.contrastExpansion = contrastExpansion;
    s.channel = channel;
    s.gain = gain;
    s.gainEnabled = gainEnabled;
    s.invert = invert;
    s.videoWidth = videoWidth;
    s.videoHeight = videoHeight;
    s.bands = ColourBands::in(*this);
    return s;
}

void VideoView::setImage(QImage& frame)
{
    if (frame.isNull())     // no picture: keep what is shown
        return;
    haveImage = true;
    // The passes work on 32-bit RGB components. A grey JPEG decodes to an 8-bit image, which
    // is converted here rather than having RGB values written into its grey bytes. Converting
    // an image that is 32-bit RGB already shares its data, which is never written.
    const QImage rgb = frame.format() == QImage::Format_RGB32 ? frame : frame.convertToFormat(QImage::Format_RGB32);
    ColourBands::of(rgb).storeIn(*this);
    const QRect region = QRect(0, 0, videoWidth, videoHeight) & rgb.rect();
    sourceIsRegion = region != rgb.rect();
    if (!sourceIsRegion) {
        sourceImage = rgb;
        processFromSource();
    } else {
        // A frame larger than the region is held once, in display: the passes never touch it
        // outside the region, whose pixels as received are kept in sourceImage.
        sourceImage = rgb.copy(region);
        display = QImage();
        display = rgb.copy();
        filterOnScreen();
    }
    redraw();
}

void VideoView::filterOnScreen()
{
    if (!haveImage)
        return;
    if (display.width() < MinProcessedWidth) {
        qDebug("VideoView: frame narrower than 640 pixels is not processed");
        return;
    }
    const VideoPassSettings s = passSettings();
    if (s.anyPass())
        VideoPasses::apply(display, display, s);
}

// display = a copy of sourceImage, then filterOnScreen(), done in one sweep: the passes read
// the source and write the display, whose buffer is reused when nothing else holds it.
void VideoView::processFromSource()
{
    if (sourceIsRegion) {
        // The region as received again, then processed; the rest of display is as received.
        for (int y = 0; y < sourceImage.height(); ++y)
            std::memcpy(display.scanLine(y), sourceImage.constScanLine(y), size_t(sourceImage.width()) * sizeof(QRgb));
        filterOnScreen();
        return;
    }
    const VideoPassSettings s = passSettings();
    if (!haveImage || sourceImage.width() < MinProcessedWidth || !s.anyPass()) {
        display = sourceImage;
        filterOnScreen();
        return;
    }
    const bool reusable = display.isDetached() && display.size() == sourceImage.size()
        && display.format() == sourceImage.format() && display.textKeys() == sourceImage.textKeys();
    if (!reusable)
        display = QImage(sourceImage.size(), sourceImage.format());
    VideoPasses::copyMetadata(sourceImage, display);
    VideoPasses::apply(sourceImage, display, s);
}

void VideoView::reprocess()
{
    processFromSource();
    redraw();
}

void VideoView::changeFilter(int value)
{
    filter = value;
    reprocess();
}

void VideoView::setGainEnabled(int state)
{
    gainEnabled = state == 2;
    reprocess();
}

void VideoView::setChannel(int value)
{
    channel = value;
    reprocess();
}

void VideoView::setInvert(int state)
{
    invert = state == 2;
    reprocess();
}

void VideoView::setGain(int value)
{
    gain = float(value);
    reprocess();
}

void VideoView::setContrastExpansion(int state)
{
    contrastExpansion = state;
    reprocess();
}

void VideoView::setMPP(float x, float y)
{
    mppX = x;
    mppY = y;
}

void VideoView::setVideoSize(int code)
{
    static const int sizes[4][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}};
    if (code >= 1 && code <= 4) {
        videoWidth = sizes[code - 1][0];
        videoHeight = sizes[code - 1][1];
    }
    setFixedSize(videoWidth, videoHeight);
    haveImage = false;
}

void VideoView::setFocusOverlay(bool on)
{
    focusOverlay = on;
    redraw();
}

QPoint VideoView::focusBoxOrigin() const
{
    return QPoint(focusCentre.x() - FocusWidth / 2, focusCentre.y() - FocusHeight / 2);
}

void VideoView::redraw()
{
    repaint();
}

void VideoView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!display.isNull())
        p.drawImage(rect(), display);
    if (focusOverlay) {
        p.setBrush(Qt::NoBrush);
        p.setPen(Qt::red);
        const QPoint o = focusBoxOrigin();
        Outline::rect(p, o.x(), o.y(), FocusWidth, FocusHeight);
    }
}

void VideoView::mousePressEvent(QMouseEvent* e)
{
    mouseMoveEvent(e);
}

void VideoView::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    int x = at.x();
    int y = at.y();
    const int hw = FocusWidth / 2;
    const int hh = FocusHeight / 2;
    if (x - hw < 0)
        x = hw;
    if (x + hw > width())
        x = width() - hw;
    if (y - hh < 0)
        y = hh;
    if (y + hh > height())
        y = height() - hh;
    focusCentre = QPoint(x, y);
    // The host's scale is for the 640 x 480 frame; a larger frame shows the same field in finer
    // pixels.
    const float scaleX = mppX * (640.0f / float(videoWidth));
    const float scaleY = mppY * (480.0f / float(videoHeight));
    emit offsetChanged((x - width() / 2) * scaleX, (y - height() / 2) * scaleY);
    if (focusOverlay)
        redraw();
}

void VideoView::saveImage()
{
    // Outlives the dialog, which uses it.
    NameOnlyIconProvider icons;
    // On the heap: if the view goes away while the dialog runs, it takes the dialog with it.
    QPointer<QFileDialog> dialog = new QFileDialog(this);
    dialog->setObjectName(QStringLiteral("file dialog"));
    // Qt's own dialog, whose model takes its icons and types from `icons`.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(&icons);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Save mode asks before an existing file is replaced.
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString fileName = dialog->selectedFiles().value(0);
    delete dialog;
    if (result != QDialog::Accepted || fileName.isEmpty())
        return;
    // Written to a temporary file and renamed over the target, so a failed write leaves an
    // existing file as it was.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    bool saved = !display.isNull() && file.open(QIODevice::WriteOnly);
    if (saved) {
        QImageWriter writer(&file, "JPEG");
        writer.setQuality(-1);
        saved = writer.write(display) && file.commit();
    }
    if (!saved)
        Alerts::warning(this, QStringLiteral("Save Image"),
                        QStringLiteral("The image could not be saved to\n%1").arg(fileName));
}
