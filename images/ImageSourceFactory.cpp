#include "ImageSourceFactory.h"

ImageSourceFactory::~ImageSourceFactory() = default;

QImage ImageSourceFactory::data(const QString& name) const
{
    const auto it = images.constFind(name);
    if (it != images.constEnd())
        return *it;
    if (this == defaultFactory()) {
        for (const ImageSourceFactory* f : added) {
            const QImage image = f->data(name);
            if (!image.isNull())
                return image;
        }
    }
    return QImage();
}

void ImageSourceFactory::setImage(const QString& name, const QImage& image)
{
    store(name, image);
}

ImageSourceFactory* ImageSourceFactory::defaultFactory()
{
    // Built on first use, so a static initialiser in any file may already add to it.
    static ImageSourceFactory instance;
    return &instance;
}

void ImageSourceFactory::addFactory(ImageSourceFactory* f)
{
    ImageSourceFactory* d = defaultFactory();
    if (f && f != d && !d->added.contains(f))
        d->added.append(f);
}

void ImageSourceFactory::removeFactory(ImageSourceFactory* f)
{
    defaultFactory()->added.removeAll(f);
}
