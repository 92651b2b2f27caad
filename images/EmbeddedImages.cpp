#include "EmbeddedImages.h"

#include <QByteArray>
#include <QtEndian>
#include <atomic>

namespace {

std::atomic<int> unpacks{0};
EmbeddedImageFactory* installed = nullptr;

// Installs the collection before main() and takes it out after main() has returned. The
// library is linked as object files, so this object is never dropped by the linker.
struct Installer
{
    Installer() { initEmbeddedImages(); }
    ~Installer() { cleanupEmbeddedImages(); }
} installer;

} // namespace

QImage unpackEmbeddedImage(const EmbeddedImage& entry)
{
    if (!entry.data || entry.depth != 32 || entry.width <= 0 || entry.height <= 0)
        return QImage();
    ++unpacks;
    const QByteArray bytes = qUncompress(entry.data, qsizetype(entry.compressed));
    const qint64 rowBytes = qint64(entry.width) * 4;
    if (bytes.size() < rowBytes * entry.height)
        return QImage();

    QImage image(entry.width, entry.height, entry.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    const uchar* src = reinterpret_cast<const uchar*>(bytes.constData());
    for (int y = 0; y < entry.height; ++y, src += rowBytes) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < entry.width; ++x)
            line[x] = qFromLittleEndian<quint32>(src + 4 * x);
    }
    return image;
}

QImage findEmbeddedImage(const QString& name)
{
    for (const EmbeddedImage* e = embeddedImageTable; e->data; ++e) {
        if (QString::fromUtf8(e->name) == name)
            return unpackEmbeddedImage(*e);
    }
    return QImage();
}

int embeddedImageUnpackCount()
{
    return unpacks.load();
}

EmbeddedImageFactory::~EmbeddedImageFactory() = default;

QImage EmbeddedImageFactory::data(const QString& name) const
{
    QImage image = ImageSourceFactory::data(name);
    if (!image.isNull() || name.isNull())
        return image;
    image = findEmbeddedImage(name);
    if (!image.isNull())
        store(name, image);
    return ImageSourceFactory::data(name);
}

void initEmbeddedImages()
{
    if (!installed)
        installed = new EmbeddedImageFactory;
    ImageSourceFactory::addFactory(installed);
}

void cleanupEmbeddedImages()
{
    if (!installed)
        return;
    ImageSourceFactory::removeFactory(installed);
    delete installed;
    installed = nullptr;
}
